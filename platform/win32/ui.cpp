// Message boxes, icons and the foreground monitor.
#include "platform/platform.h"
#include "platform/win32/win32_support.h"

namespace platform {

void messageBox(const std::u16string& text, const std::u16string& caption) {
    MessageBoxW(nullptr, win32::wide(text), win32::wide(caption), 0);
}

void errorBox(const std::u16string& message, std::uintptr_t owner) {
    MessageBoxW(reinterpret_cast<HWND>(owner), win32::wide(message), L"Mistlock", MB_ICONERROR | MB_OK);
}

IconHandle loadIcon(const char16_t* resourceName) {
    return reinterpret_cast<IconHandle>(
        LoadIconW(win32::ownModule(), reinterpret_cast<const wchar_t*>(resourceName)));
}

// LoadIconW hands out shared icons, which the system frees with the module;
// DestroyIcon leaves those alone, so releasing every handle is always safe.
void destroyIcon(IconHandle icon) {
    if (icon) DestroyIcon(reinterpret_cast<HICON>(icon));
}

MonitorBounds foregroundMonitorBounds() {
    HMONITOR monitor = MonitorFromWindow(GetForegroundWindow(), MONITOR_DEFAULTTONEAREST);
    if (!monitor) monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!monitor || !GetMonitorInfoW(monitor, &info)) {
        return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right - info.rcMonitor.left,
            info.rcMonitor.bottom - info.rcMonitor.top};
}

}  // namespace platform
