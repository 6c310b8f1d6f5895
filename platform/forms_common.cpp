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

void TForm::runHandler(const std::function<void()>& handler, const TForm* form) {
    // Asked once the handler has failed: it may have shown or hidden the form.
    const auto owner = [form]() -> std::uintptr_t { return form && form->visible() ? form->handle() : 0; };
    try {
        handler();
    } catch (const std::exception& e) {
        const auto message = utf8::decode(e.what());
        platform::errorBox(message ? *message : platform::widen(e.what()), owner());
    } catch (...) {
        platform::errorBox(u"Unexpected error.", owner());
    }
}

void TButton::click() {
    if (onClick) TForm::runHandler(onClick, &form_);
}

void TSpeedButton::click() {
    if (onClick) TForm::runHandler(onClick, &form_);
}

}  // namespace forms
