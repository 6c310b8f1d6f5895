// The reference messenger on Windows: loads Mistlock.dll, runs a message loop for
// its windows, and, when the script comes from a file or a pipe, closes each
// message box after recording it, so that scripted runs never block.
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/messenger/box_watch_win32.h"
#include "tools/messenger/messenger_platform.h"

namespace messenger {

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

// Reserves every free stretch below 4 GB that starts on the allocation
// granularity; what is left between them is too small for a library.
std::vector<void*> takeMemoryBelow4GB() {
    std::vector<void*> taken;
    const std::uintptr_t granularity = 0x10000, limit = 0x100000000ull;
    std::uintptr_t address = granularity;
    MEMORY_BASIC_INFORMATION region{};
    while (address < limit && VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region)) {
        const std::uintptr_t end = std::min<std::uintptr_t>(
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize, limit);
        const std::uintptr_t start = (address + granularity - 1) / granularity * granularity;
        if (region.State == MEM_FREE && start < end) {
            if (void* memory = VirtualAlloc(reinterpret_cast<void*>(start), end - start, MEM_RESERVE, PAGE_NOACCESS)) {
                taken.push_back(memory);
            }
        }
        address = end;
    }
    return taken;
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
    // Windows puts a library whose base is taken wherever its memory manager
    // likes, above 4 GB as often as not; Wine takes the lowest free address.
    // Taking all free memory below 4 GB while the library loads sends it
    // above on both, and giving it back leaves the plug-in its low memory.
    const std::vector<void*> taken = options.occupyPreferredBase ? takeMemoryBelow4GB() : std::vector<void*>();
    plugin = LoadLibraryW(widenWith(CP_UTF8, hostPath(path)).c_str());
    const DWORD loadError = GetLastError();
    for (void* memory : taken) VirtualFree(memory, 0, MEM_RELEASE);
    if (!plugin) {
        std::fprintf(stderr, "mistlock-messenger: cannot load %s (error %lu)\n", path.c_str(), loadError);
        std::exit(2);
    }
    auto fun = reinterpret_cast<PluginFun>(reinterpret_cast<void*>(GetProcAddress(plugin, "pluginFun")));
    if (!fun) {
        std::fprintf(stderr, "mistlock-messenger: %s does not export pluginFun\n", path.c_str());
        std::exit(2);
    }
    return fun;
}

std::uintptr_t pluginBase() { return reinterpret_cast<std::uintptr_t>(plugin); }

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

}  // namespace messenger
