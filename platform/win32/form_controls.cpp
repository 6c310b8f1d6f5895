// The control classes over child windows of the form: each control is made
// from its layout entry as the standard window that looks and behaves like
// it, and keeps its contents in that window.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms {

using platform::win32::ownModule;
using platform::win32::wide;
using platform::win32::windowText;
using win32::has;
using win32::hwndOf;

namespace win32 {

namespace {

// A text of the control has changed: its set's face may have to change too.
void textChanged(const TForm& form, const TControl& control) {
    if (TForm::State* owner = formState(reinterpret_cast<HWND>(form.handle()))) {
        chooseFont(*owner, textSetOf(control.layoutEntry().kind));
    }
}

}  // namespace

TControl* controlOf(TForm::State& form, HWND hwnd) {
    if (!hwnd) return nullptr;
    for (TControl* control : form.controls) {
        if (hwndOf(control) == hwnd) return control;
    }
    return nullptr;
}

bool usable(HWND hwnd) { return hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd); }

// From the nearest group start up to the next one.
std::vector<TControl*> radioGroup(TForm::State& form, const TControl* radio) {
    std::vector<TControl*> radios;
    for (TControl* control : form.controls) {
        if (control->layoutEntry().kind == layout::Kind::RadioButton) radios.push_back(control);
    }
    const auto self = std::find(radios.begin(), radios.end(), radio);
    if (self == radios.end()) return {};
    auto first = self;
    while (first != radios.begin() && !has((*first)->layoutEntry(), layout::GroupStart)) --first;
    auto last = first + 1;
    while (last != radios.end() && !has((*last)->layoutEntry(), layout::GroupStart)) ++last;
    return std::vector<TControl*>(first, last);
}

bool isChecked(const TControl* radio) { return SendMessageW(hwndOf(radio), BM_GETCHECK, 0, 0) == BST_CHECKED; }

namespace {

// Children are stacked in tab order, the tab stops first; a radio group
// therefore stays together, which the buttons' own group handling needs.
void stackInTabOrder(TForm::State& form) {
    std::vector<TControl*> order;
    for (TControl* control : form.controls) {
        if (hwndOf(control)) order.push_back(control);
    }
    std::stable_sort(order.begin(), order.end(), [](const TControl* a, const TControl* b) {
        const int ta = a->layoutEntry().tabOrder < 0 ? 1 << 30 : a->layoutEntry().tabOrder;
        const int tb = b->layoutEntry().tabOrder < 0 ? 1 << 30 : b->layoutEntry().tabOrder;
        return ta < tb;
    });
    HWND after = HWND_TOP;
    for (TControl* control : order) {
        SetWindowPos(hwndOf(control), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = hwndOf(control);
    }
}

struct WindowKind {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

WindowKind windowKindOf(const layout::Control& entry) {
    const DWORD sunken = has(entry, layout::SunkenBorder) ? WS_EX_CLIENTEDGE : 0;
    switch (entry.kind) {
        case layout::Kind::Label:
            return {L"STATIC", SS_LEFTNOWORDWRAP, 0};
        case layout::Kind::Edit:
            return {L"EDIT", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, sunken};
        case layout::Kind::Memo:
            return {L"EDIT",
                    static_cast<DWORD>(WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL |
                                       (has(entry, layout::WantReturns) ? ES_WANTRETURN : 0) |
                                       (has(entry, layout::WordWrap) ? 0 : ES_AUTOHSCROLL)),
                    sunken};
        case layout::Kind::RadioButton:
            return {L"BUTTON", static_cast<DWORD>(BS_AUTORADIOBUTTON | (has(entry, layout::Checked) ? WS_TABSTOP : 0)),
                    0};
        case layout::Kind::Button:
            return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
        case layout::Kind::SpeedButton:
            return {speedButtonClassName, 0, 0};
        case layout::Kind::OpenDialog:
            break;
    }
    return {nullptr, 0, 0};
}

}  // namespace

HWND createControlWindow(TForm::State& form, const layout::Control& entry, TControl::State& state) {
    const WindowKind kind = windowKindOf(entry);
    if (!kind.className) return nullptr;  // the chooser has no window of its own
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | kind.style;
    // Every control but the later buttons of a radio group starts a group,
    // so a group ends where the next control begins.
    if (entry.kind != layout::Kind::RadioButton || has(entry, layout::GroupStart)) style |= WS_GROUP;
    const bool textIsHint = entry.kind == layout::Kind::SpeedButton;
    const std::u16string text = textIsHint ? std::u16string() : std::u16string(entry.text ? entry.text : u"");
    const int id = form.nextId++;
    HWND hwnd = CreateWindowExW(kind.exStyle, kind.className, wide(text), style, entry.left, entry.top, entry.width,
                                entry.height, form.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                ownModule(), textIsHint ? &state : nullptr);
    if (!hwnd) creationFailed("control window");
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(layoutFont(form)), FALSE);
    switch (entry.kind) {
        case layout::Kind::Edit:
        case layout::Kind::Memo:
            SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);  // no limit beyond the system's
            answerDialogManager(hwnd, state);
            break;
        case layout::Kind::Button:
            answerDialogManager(hwnd, state);
            break;
        case layout::Kind::RadioButton:
            SendMessageW(hwnd, BM_SETCHECK, has(entry, layout::Checked) ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case layout::Kind::Label:
            fitLabel(hwnd);
            break;
        case layout::Kind::SpeedButton:
            state.hint = entry.text ? entry.text : u"";
            if (has(entry, layout::Glyph)) state.glyph = loadGlyph();
            if (has(entry, layout::ShowHint)) addHint(form, hwnd, state.hint);
            break;
        default:
            break;
    }
    return hwnd;
}

}  // namespace win32

TControl::TControl(TForm& form, const char* name) : form_(form), entry_(form.layoutDescription().find(name)) {
    if (!entry_) throw std::logic_error(std::string("no layout entry for control ") + name);
    state_ = std::make_unique<State>();
    TForm::State& owner = *form.state_;
    state_->hwnd = win32::createControlWindow(owner, *entry_, *state_);
    try {
        owner.controls.push_back(this);
    } catch (...) {
        if (state_->hwnd) DestroyWindow(state_->hwnd);
        throw;
    }
    win32::stackInTabOrder(owner);
    win32::keepRadioTabStops(owner);
    win32::chooseFont(owner, win32::textSetOf(entry_->kind));
}

TControl::~TControl() {
    TForm::State& owner = *form_.state_;
    owner.controls.erase(std::remove(owner.controls.begin(), owner.controls.end(), this), owner.controls.end());
    if (state_->hwnd && IsWindow(state_->hwnd)) {
        win32::removeHint(owner, state_->hwnd, state_->hint);
        if (owner.lastFocus == state_->hwnd) owner.lastFocus = nullptr;
        DestroyWindow(state_->hwnd);
    }
    if (state_->glyph) ImageList_Destroy(state_->glyph);
}

std::uintptr_t TControl::handle() const { return reinterpret_cast<std::uintptr_t>(state_->hwnd); }

std::u16string TLabel::caption() const { return windowText(state_->hwnd); }

void TLabel::setCaption(const std::u16string& caption) {
    SetWindowTextW(state_->hwnd, wide(caption));
    win32::textChanged(form_, *this);
    win32::fitLabel(state_->hwnd);
}

std::u16string TEdit::text() const { return windowText(state_->hwnd); }

void TEdit::setText(const std::u16string& text) {
    SetWindowTextW(state_->hwnd, wide(text));
    win32::textChanged(form_, *this);
}

std::u16string TMemo::text() const { return windowText(state_->hwnd); }

void TMemo::setText(const std::u16string& text) {
    SetWindowTextW(state_->hwnd, wide(text));
    win32::textChanged(form_, *this);
}

std::u16string TRadioButton::caption() const { return windowText(state_->hwnd); }

void TRadioButton::setCaption(const std::u16string& caption) {
    SetWindowTextW(state_->hwnd, wide(caption));
    win32::textChanged(form_, *this);
}
bool TRadioButton::checked() const { return win32::isChecked(this); }

void TRadioButton::setChecked(bool checked) {
    SendMessageW(state_->hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    TForm::State* owner = win32::formState(reinterpret_cast<HWND>(form_.handle()));
    if (!owner) return;
    if (checked) {
        for (TControl* member : win32::radioGroup(*owner, this)) {
            if (member != this) SendMessageW(hwndOf(member), BM_SETCHECK, BST_UNCHECKED, 0);
        }
    }
    win32::keepRadioTabStops(*owner);
}

std::u16string TSpeedButton::hint() const { return state_->hint; }

void TSpeedButton::setHint(const std::u16string& hint) {
    state_->hint = hint;
    TForm::State* owner = win32::formState(reinterpret_cast<HWND>(form_.handle()));
    if (owner) win32::updateHint(*owner, state_->hwnd, state_->hint);
}

}  // namespace forms
