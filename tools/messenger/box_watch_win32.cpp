#include "tools/messenger/box_watch_win32.h"

#include <windows.h>

namespace boxwatch {

namespace {

HHOOK hook = nullptr;
std::function<void(const SeenBox&)> callback;

std::wstring windowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

// What the visible controls of a box show. The error box shows an icon: a
// static control of the icon style that holds one. (Its control id differs
// between Windows and Wine, and Wine keeps a hidden, empty one in every box.)
void readControls(HWND box, SeenBox& seen) {
    int buttons = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if (!(style & WS_VISIBLE)) continue;
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
            SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            seen.error = true;
        }
        if (lstrcmpiW(className, L"Button") == 0) ++buttons;
    }
    seen.okOnly = buttons == 1;
}

// A message box is a dialog with a static text of id 0xFFFF and an OK button.
LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && callback) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        const HWND textControl = GetDlgItem(window, 0xFFFF);
        const HWND okButton = GetDlgItem(window, IDOK);
        if (lstrcmpW(className, L"#32770") == 0 && textControl && okButton) {
            SeenBox seen{windowText(window), windowText(textControl)};
            readControls(window, seen);
            callback(seen);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(okButton));
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

void start(std::function<void(const SeenBox&)> onBox) {
    callback = std::move(onBox);
    if (!hook) hook = SetWindowsHookExW(WH_CBT, &watch, nullptr, GetCurrentThreadId());
}

void stop() {
    if (hook) UnhookWindowsHookEx(hook);
    hook = nullptr;
    callback = nullptr;
}

}  // namespace boxwatch
