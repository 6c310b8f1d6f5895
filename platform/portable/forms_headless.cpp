// The form toolkit without a window system: every control holds its values in
// memory, the form keeps a position and a visibility, and the chooser answers
// what setOpenDialogAnswer() told it.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/portable/headless.h"

namespace forms {

namespace {

// Outer frame of a fixed dialog: borders left and right, caption and borders
// above and below, as a current Windows draws them at 96 dpi.
constexpr int frameWidth = 16;
constexpr int frameHeight = 39;

std::optional<std::u16string> chooserAnswer;

}  // namespace

struct TControl::State {
    std::u16string text;
    bool checked = false;
    std::u16string fileName;
};

struct TForm::State {
    std::u16string caption;
    int left = 0;
    int top = 0;
    bool visible = false;
    // Radio buttons in layout order; registered while their TControl part is
    // built, so kept as TControl until they are whole.
    std::vector<TControl*> radios;
};

TControl::TControl(TForm& form, const char* name) : form_(form), entry_(form.layoutDescription().find(name)) {
    if (!entry_) throw std::logic_error(std::string("no layout entry for control ") + name);
    state_ = std::make_unique<State>();
    state_->text = entry_->text;
    state_->checked = (entry_->flags & layout::Checked) != 0;
    if (entry_->kind == layout::Kind::RadioButton) form_.state_->radios.push_back(this);
}

TControl::~TControl() = default;
std::uintptr_t TControl::handle() const { return 0; }

std::u16string TLabel::caption() const { return state_->text; }
void TLabel::setCaption(const std::u16string& caption) { state_->text = caption; }

std::u16string TEdit::text() const { return state_->text; }
void TEdit::setText(const std::u16string& text) { state_->text = text; }

std::u16string TMemo::text() const { return state_->text; }
void TMemo::setText(const std::u16string& text) { state_->text = text; }

std::u16string TRadioButton::caption() const { return state_->text; }
void TRadioButton::setCaption(const std::u16string& caption) { state_->text = caption; }
bool TRadioButton::checked() const { return state_->checked; }

void TRadioButton::setChecked(bool checked) {
    state_->checked = checked;
    if (!checked) return;
    // The buttons from the nearest group start up to the next one form a group.
    std::vector<TRadioButton*> radios;
    for (TControl* control : form_.state_->radios) radios.push_back(static_cast<TRadioButton*>(control));
    std::size_t self = 0;
    while (radios[self] != this) ++self;
    std::size_t first = self;
    while (first > 0 && !(radios[first]->entry_->flags & layout::GroupStart)) --first;
    for (std::size_t i = first; i < radios.size(); ++i) {
        if (i > first && (radios[i]->entry_->flags & layout::GroupStart)) break;
        if (radios[i] != this) radios[i]->state_->checked = false;
    }
}

std::u16string TSpeedButton::hint() const { return state_->text; }
void TSpeedButton::setHint(const std::u16string& hint) { state_->text = hint; }

bool TOpenDialog::execute() {
    std::optional<std::u16string> answer;
    answer.swap(chooserAnswer);
    if (!answer) return false;
    state_->fileName = *answer;
    return true;
}

std::u16string TOpenDialog::fileName() const { return state_->fileName; }

TForm::TForm(const layout::Form& layout) : layout_(layout), state_(std::make_unique<State>()) {
    state_->caption = layout.caption;
    state_->left = layout.designLeft;
    state_->top = layout.designTop;
}

TForm::~TForm() = default;
std::uintptr_t TForm::handle() const { return 0; }

std::u16string TForm::caption() const { return state_->caption; }
void TForm::setCaption(const std::u16string& caption) { state_->caption = caption; }
int TForm::left() const { return state_->left; }
int TForm::top() const { return state_->top; }
void TForm::setLeft(int left) { state_->left = left; }
void TForm::setTop(int top) { state_->top = top; }
int TForm::width() const { return layout_.clientWidth + frameWidth; }
int TForm::height() const { return layout_.clientHeight + frameHeight; }
bool TForm::visible() const { return state_->visible; }

void TForm::show() {
    if (state_->visible) return;  // already in front: there is nothing else here
    state_->visible = true;
    runHandler([this] { onShow(); }, this);
}

void TForm::close() {
    const auto life = lifetime();
    bool closed = false;
    runHandler([&] {
        onClose();
        closed = true;
    }, this);
    if (closed && !life.expired()) state_->visible = false;
}

}  // namespace forms

void platform::headless::setOpenDialogAnswer(std::optional<std::u16string> answer) {
    forms::chooserAnswer = std::move(answer);
}
