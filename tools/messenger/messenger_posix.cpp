// The reference messenger on Linux: loads the headless plug-in library and takes
// the place of the screen through the hooks it exports beside pluginFun.
#include <dlfcn.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "platform/utf8.h"
#include "tools/messenger/messenger_platform.h"

namespace messenger {

namespace {

using SetCodePage = void (*)(unsigned);
using MessageBoxHook = void (*)(void*, const char16_t*, const char16_t*, int);
using SetMessageBoxHook = void (*)(MessageBoxHook, void*);
using IconNameOf = const char16_t* (*)(std::uintptr_t);

std::function<void(const MessageBoxSeen&)> boxObserver;
IconNameOf pluginIconName = nullptr;
void* pluginEntry = nullptr;

// The library is linked to load at 0x10000000 (-Ttext-segment); a page taken
// there makes the loader's request for that address fail.
void occupyPreferredBase() {
    void* const preferred = reinterpret_cast<void*>(0x10000000);
    void* taken = mmap(preferred, 0x10000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (taken == preferred) return;
    // Something is there already: as good, unless the kernel put it elsewhere.
    if (taken != MAP_FAILED) munmap(taken, 0x10000);
    if (taken == MAP_FAILED && errno == EEXIST) return;
    std::fprintf(stderr, "mistlock-messenger: cannot take the plug-in's preferred base\n");
    std::exit(2);
}

void* symbol(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (!address) {
        std::fprintf(stderr, "mistlock-messenger: the plug-in does not export %s\n", name);
        std::exit(2);
    }
    return address;
}

void onBox(void*, const char16_t* text, const char16_t* caption, int isError) {
    boxObserver({utf8::encode(caption), utf8::encode(text), isError != 0});
}

}  // namespace

PluginFun loadPlugin(const std::string& path, const Options& options,
                     std::function<void(const MessageBoxSeen&)> onMessageBox) {
    if (options.occupyPreferredBase) occupyPreferredBase();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "mistlock-messenger: cannot load %s: %s\n", path.c_str(), dlerror());
        std::exit(2);
    }
    const unsigned codePage = options.codePage ? options.codePage : 1251;
    platform::headless::setAnsiCodePage(codePage);
    reinterpret_cast<SetCodePage>(symbol(library, "mistlockHeadlessSetCodePage"))(codePage);
    boxObserver = std::move(onMessageBox);
    reinterpret_cast<SetMessageBoxHook>(symbol(library, "mistlockHeadlessSetMessageBoxHook"))(&onBox, nullptr);
    pluginIconName = reinterpret_cast<IconNameOf>(symbol(library, "mistlockHeadlessIconName"));
    pluginEntry = symbol(library, "pluginFun");
    return reinterpret_cast<PluginFun>(pluginEntry);
}

std::uintptr_t pluginBase() {
    Dl_info info{};
    if (!pluginEntry || !dladdr(pluginEntry, &info)) return 0;
    return reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

std::string iconName(std::uintptr_t handle) {
    const char16_t* name = pluginIconName ? pluginIconName(handle) : nullptr;
    return name ? utf8::encode(name) : std::string();
}

std::string toAnsi(const std::string& utf8Text) {
    const auto text = utf8::decode(utf8Text);
    return platform::narrow(text ? *text : platform::widen(utf8Text));
}

std::string fromAnsi(const std::string& ansiText) { return utf8::encode(platform::widen(ansiText)); }

std::string hostPath(const std::string& path) { return path; }

void pumpMessages() {}

}  // namespace messenger
