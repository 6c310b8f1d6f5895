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

// The toolbar shows small icons: the image drawn for the small-icon size of
// the display's scaling (16 pixels at 100 %, 20, 24, 32 at 200 %), rather
// than LoadIconW's large one for the host to shrink.
IconHandle loadIcon(const char16_t* resourceName) {
    return reinterpret_cast<IconHandle>(LoadImageW(win32::ownModule(), reinterpret_cast<const wchar_t*>(resourceName),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

// Shared icons (LR_SHARED) are freed by the system with the module;
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
