// User-interface services of the headless layer: message boxes go to an
// observer (the reference messenger or a test), icons are named tokens.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "platform/utf8.h"

namespace platform {

namespace {

headless::MessageBoxObserver observer;
MonitorBounds monitor{0, 0, 1280, 1024};

// Icons are shared, as LoadIconW's are: the same name always gives the same handle.
const char16_t* const iconNames[] = {u"ZEV", u"ZEV_CRYPT"};
constexpr IconHandle firstIcon = 0x5A00;

void report(const std::u16string& text, const std::u16string& caption, bool isError) {
    if (observer) {
        observer(text, caption, isError);
    } else {
        std::fprintf(stderr, "[%s] %s: %s\n", isError ? "error box" : "message box", utf8::encode(caption).c_str(),
                     utf8::encode(text).c_str());
    }
}

}  // namespace

void headless::setMessageBoxObserver(MessageBoxObserver o) { observer = std::move(o); }
void headless::setMonitorBounds(const MonitorBounds& bounds) { monitor = bounds; }

const char16_t* headless::iconName(IconHandle icon) {
    for (std::size_t i = 0; i < sizeof iconNames / sizeof iconNames[0]; ++i) {
        if (icon == firstIcon + i) return iconNames[i];
    }
    return nullptr;
}

void messageBox(const std::u16string& text, const std::u16string& caption) { report(text, caption, false); }
void errorBox(const std::u16string& message, std::uintptr_t) { report(message, u"Error", true); }

IconHandle loadIcon(const char16_t* resourceName) {
    for (std::size_t i = 0; i < sizeof iconNames / sizeof iconNames[0]; ++i) {
        if (std::u16string_view(iconNames[i]) == resourceName) return firstIcon + i;
    }
    return 0;
}

void destroyIcon(IconHandle) {}

MonitorBounds foregroundMonitorBounds() { return monitor; }

}  // namespace platform
