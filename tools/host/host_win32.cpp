// The reference host on Windows: loads Mistlock.dll, runs a message loop for
// its windows, and, when the script comes from a file or a pipe, closes each
// message box after recording it, so that scripted runs never block.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "tools/host/box_watch_win32.h"
#include "tools/host/host_platform.h"

namespace refhost {

namespace {

std::function<void(const MessageBoxSeen&)> boxObserver;
HMODULE plugin = nullptr;

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

}  // namespace

PluginFun loadPlugin(const std::string& path, const Options& options,
                     std::function<void(const MessageBoxSeen&)> onMessageBox) {
    boxObserver = std::move(onMessageBox);
    if (options.dismissBoxes && !_isatty(_fileno(stdin))) {
        boxwatch::start([](const boxwatch::SeenBox& box) {
            boxObserver({toUtf8(box.caption), toUtf8(box.text), box.error});
        });
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
