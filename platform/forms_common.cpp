// The parts of the form toolkit that are the same on every platform.
#include "platform/forms.h"

#include <new>

#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace forms {

// No cut at a NUL here, unlike the settings reader: the UIN list file's text
// is cut before it reaches the memo, and no keyboard types one.
std::vector<std::u16string> TMemo::lines() const { return platform::splitLines(text()); }

void TForm::runHandler(const std::function<void()>& handler, const TForm* form) {
    // Asked once the handler has failed: it may have shown or hidden the
    // form, or the host may have destroyed it.
    const std::weak_ptr<const void> life = form ? form->lifetime() : std::weak_ptr<const void>();
    const auto owner = [form, &life]() -> std::uintptr_t {
        return form && !life.expired() && form->visible() ? form->handle() : 0;
    };
    try {
        handler();
    } catch (const std::bad_alloc&) {
        platform::errorBox(u"Not enough memory to finish this. Close other programs and try again.", owner());
    } catch (const std::exception& e) {
        const auto message = utf8::decode(e.what());
        platform::errorBox(message ? *message : platform::widen(e.what()), owner());
    } catch (...) {
        platform::errorBox(u"Unexpected error.", owner());
    }
}

// The handler is copied: the form that holds it may be destroyed while it runs.
void TButton::click() {
    if (const auto handler = onClick) TForm::runHandler(handler, &form_);
}

void TSpeedButton::click() {
    if (const auto handler = onClick) TForm::runHandler(handler, &form_);
}

}  // namespace forms
