// The parts of the form toolkit that are the same on every platform.
#include "platform/forms.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace forms {

std::vector<std::u16string> TMemo::lines() const {
    const std::u16string all = text();
    std::vector<std::u16string> result;
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find_first_of(u"\r\n", pos);
        if (end == std::u16string::npos) {
            result.push_back(all.substr(pos));
            break;
        }
        result.push_back(all.substr(pos, end - pos));
        pos = end + ((all[end] == u'\r' && end + 1 < all.size() && all[end + 1] == u'\n') ? 2 : 1);
    }
    return result;
}

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
