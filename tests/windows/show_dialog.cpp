// Shows the settings dialog for scripts/screenshot.sh: creates it over a
// settings folder, places it, shows it, tells where it is, and keeps running
// its message loop until told to stop.
//
//   show_dialog.exe FOLDER RECT_FILE STOP_FILE [TIP_FILE]
//
// FOLDER is the settings folder (language and settings files are read from
// it); the outer rectangle "left top width height" and the speed button's
// centre "x y" in screen pixels go to RECT_FILE once the dialog is on the
// screen; while a tool tip is shown, its rectangle "left top width height"
// goes to TIP_FILE, so that a picture can take it in whole; the program ends
// when STOP_FILE exists, or after a minute.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "settings/setpassform.h"

namespace {

void pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The thread's tool tip on the screen, if any.
BOOL CALLBACK findToolTip(HWND window, LPARAM found) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (lstrcmpiW(name, TOOLTIPS_CLASSW) == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void reportToolTip(const wchar_t* tipFile) {
    HWND tip = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &findToolTip, reinterpret_cast<LPARAM>(&tip));
    RECT rect;
    if (!tip || !GetWindowRect(tip, &rect) || rect.right <= rect.left) return;
    if (FILE* out = _wfopen(tipFile, L"w")) {
        std::fprintf(out, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        std::fclose(out);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: show_dialog FOLDER RECT_FILE STOP_FILE [TIP_FILE]\n");
        return 2;
    }
    std::wstring folder = argv[1];
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    setpassform::settingsFolder = platform::narrow(std::u16string(folder.begin(), folder.end()));

    setpassform::Tsetpass dialog;
    setpassform::setpass = &dialog;
    // Where the toolbar's settings action puts it: centred on the monitor.
    const platform::MonitorBounds monitor = platform::foregroundMonitorBounds();
    dialog.setTop(monitor.top + monitor.height / 2 - dialog.height() / 2);
    dialog.setLeft(monitor.left + monitor.width / 2 - dialog.width() / 2);
    // A window that comes up while Wine's desktop is still starting may miss
    // its activation: brought to the front again until it has it.
    const HWND hwnd = reinterpret_cast<HWND>(dialog.handle());
    for (int attempt = 0; attempt < 10; ++attempt) {
        dialog.show();
        pump(400);
        if (GetForegroundWindow() == hwnd && GetActiveWindow() == hwnd) break;
    }
    const bool active = GetForegroundWindow() == hwnd;

    RECT button;
    GetWindowRect(reinterpret_cast<HWND>(dialog.OpenKeyFile.handle()), &button);
    if (FILE* out = _wfopen(argv[2], L"w")) {
        std::fprintf(out, "%d %d %d %d %ld %ld %d\n", dialog.left(), dialog.top(), dialog.width(), dialog.height(),
                     (button.left + button.right) / 2, (button.top + button.bottom) / 2,
                     active ? 1 : 0);
        std::fclose(out);
    }
    for (int i = 0; i < 600 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
        pump(100);
        if (argc == 5) reportToolTip(argv[4]);
    }
    setpassform::setpass = nullptr;
    return 0;
}
