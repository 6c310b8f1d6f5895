// The reference host on Windows: loads Mistlock.dll, runs a message loop for
// its windows, and, when the script comes from a file or a pipe, closes each
// message box after recording it, so that scripted runs never block.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "tools/host/host_platform.h"

namespace refhost {

namespace {

std::function<void(const MessageBoxSeen&)> boxObserver;
HMODULE plugin = nullptr;
HHOOK cbtHook = nullptr;

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

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring widenWith(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring windowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

// A message box is a dialog with a static text of id 0xFFFF and an OK button.
LRESULT CALLBACK watchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        const HWND textControl = GetDlgItem(window, 0xFFFF);
        if (lstrcmpW(className, L"#32770") == 0 && textControl && GetDlgItem(window, IDOK)) {
            MessageBoxSeen box;
            box.caption = toUtf8(windowText(window));
            box.text = toUtf8(windowText(textControl));
            box.error = hasIcon(window);
            boxObserver(box);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        }
    }
    return CallNextHookEx(cbtHook, code, wParam, lParam);
}

}  // namespace

PluginFun loadPlugin(const std::string& path, const Options& options,
                     std::function<void(const MessageBoxSeen&)> onMessageBox) {
    boxObserver = std::move(onMessageBox);
    if (options.dismissBoxes && !_isatty(_fileno(stdin))) {
        cbtHook = SetWindowsHookExW(WH_CBT, &watchBoxes, nullptr, GetCurrentThreadId());
    }
    plugin = LoadLibraryW(widenWith(CP_UTF8, hostPath(path)).c_str());
    if (!plugin) {
        std::fprintf(stderr, "mistlock-host: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
        std::exit(2);
    }
    auto fun = reinterpret_cast<PluginFun>(reinterpret_cast<void*>(GetProcAddress(plugin, "pluginFun")));
    if (!fun) {
        std::fprintf(stderr, "mistlock-host: %s does not export pluginFun\n", path.c_str());
        std::exit(2);
    }
    return fun;
}

std::string iconName(std::uintptr_t handle) {
    // The plug-in's icons are shared: loading one by name gives the same handle.
    for (const wchar_t* name : {L"ZEV", L"ZEV_CRYPT"}) {
        const HICON icon = LoadIconW(plugin, name);
        if (icon && (reinterpret_cast<std::uintptr_t>(icon) & 0xFFFFFFFFu) == handle) return toUtf8(name);
    }
    return std::string();
}

std::string toAnsi(const std::string& utf8Text) {
    const std::wstring wide = widenWith(CP_UTF8, utf8Text);
    if (wide.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string fromAnsi(const std::string& ansiText) { return toUtf8(widenWith(CP_ACP, ansiText)); }

std::string hostPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;  // Wine's view of the Unix root
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace refhost
