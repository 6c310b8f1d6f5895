// The parts of the form toolkit that are the same on every platform.
#include "platform/forms.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace forms {

// No cut at a NUL here, unlike the settings reader: the UIN list file's text
// is cut before it reaches the memo, and no keyboard types one.
std::vector<std::u16string> TMemo::lines() const { return platform::splitLines(text()); }

void TForm::runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        const auto message = utf8::decode(e.what());
        platform::errorBox(message ? *message : platform::widen(e.what()));
    } catch (...) {
        platform::errorBox(u"Unexpected error.");
    }
}

void TButton::click() {
    if (onClick) TForm::runHandler(onClick);
}

void TSpeedButton::click() {
    if (onClick) TForm::runHandler(onClick);
}

}  // namespace forms
