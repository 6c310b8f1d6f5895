#include "tests/support/box_recorder.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/portable/headless.h"
#endif

namespace testing_boxes {

namespace {
BoxRecorder* active = nullptr;
}

#if defined(_WIN32)

namespace {

HHOOK hook = nullptr;

// The error box shows an icon: a visible static control of the icon style
// that holds one. (Its control id differs between Windows and Wine, and Wine
// keeps a hidden, empty one in every box.)
BOOL CALLBACK findIcon(HWND child, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (lstrcmpiW(className, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool hasIcon(HWND box) {
    bool found = false;
    EnumChildWindows(box, &findIcon, reinterpret_cast<LPARAM>(&found));
    return found;
}


std::u16string windowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return std::u16string(text.begin(), text.end());
}

LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && active) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        const HWND textControl = GetDlgItem(window, 0xFFFF);
        if (lstrcmpW(className, L"#32770") == 0 && textControl && GetDlgItem(window, IDOK)) {
            active->record({windowText(window), windowText(textControl), hasIcon(window)});
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

BoxRecorder::BoxRecorder() {
    active = this;
    hook = SetWindowsHookExW(WH_CBT, &watch, nullptr, GetCurrentThreadId());
}

BoxRecorder::~BoxRecorder() {
    if (hook) UnhookWindowsHookEx(hook);
    hook = nullptr;
    active = nullptr;
}

#else

BoxRecorder::BoxRecorder() {
    active = this;
    platform::headless::setMessageBoxObserver([](const std::u16string& text, const std::u16string& caption, bool error) {
        if (active) active->record({caption, text, error});
    });
}

BoxRecorder::~BoxRecorder() {
    platform::headless::setMessageBoxObserver(nullptr);
    active = nullptr;
}

#endif

}  // namespace testing_boxes
