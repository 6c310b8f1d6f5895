// The headless layer's controls as C functions, exported beside pluginFun from
// the Linux plug-in library, so that a program that loads it (the
// reference messenger, the tests) can stand in for the user and the screen.
#include <cstdint>

#include "platform/export.h"
#include "platform/portable/headless.h"

extern "C" {

using MistlockMessageBoxHook = void (*)(void* context, const char16_t* text, const char16_t* caption, int isError);

MISTLOCK_EXPORT void mistlockHeadlessSetCodePage(unsigned codePage) { platform::headless::setAnsiCodePage(codePage); }

MISTLOCK_EXPORT void mistlockHeadlessSetMessageBoxHook(MistlockMessageBoxHook hook, void* context) {
    if (!hook) {
        platform::headless::setMessageBoxObserver(nullptr);
        return;
    }
    platform::headless::setMessageBoxObserver(
        [hook, context](const std::u16string& text, const std::u16string& caption, bool isError) {
            hook(context, text.c_str(), caption.c_str(), isError ? 1 : 0);
        });
}

MISTLOCK_EXPORT const char16_t* mistlockHeadlessIconName(std::uintptr_t icon) {
    return platform::headless::iconName(icon);
}

MISTLOCK_EXPORT void mistlockHeadlessSetMonitor(int left, int top, int width, int height) {
    platform::headless::setMonitorBounds({left, top, width, height});
}

MISTLOCK_EXPORT void mistlockHeadlessSetOpenDialogAnswer(const char16_t* path) {
    platform::headless::setOpenDialogAnswer(path ? std::optional<std::u16string>(path) : std::nullopt);
}

}  // extern "C"
