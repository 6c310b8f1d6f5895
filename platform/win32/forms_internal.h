#pragma once
// What the pieces of the Win32 form toolkit share; nothing outside
// platform/win32 includes this. The toolkit's interface is platform/forms.h.
//
// A form is a fixed-size, modeless, unowned top-level window; each control is
// a child window made from its layout entry. Nothing may leave a window
// procedure or a hook as a C++ exception: each one catches everything at its
// boundary.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/forms.h"

namespace forms {

// A window procedure around Handle that lets no exception through.
template <LRESULT (*Handle)(HWND, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK guardedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return Handle(hwnd, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

struct TControl::State {
    HWND hwnd = nullptr;
    // Edit boxes and push buttons: the procedure of their standard class,
    // which answers every message but what the dialog manager asks.
    WNDPROC standardProc = nullptr;
    // Speed button: hint, glyph and the look of the moment.
    std::u16string hint;
    HIMAGELIST glyph = nullptr;
    HFONT font = nullptr;
    bool hot = false;
    bool pressed = false;
    bool trackingLeave = false;
    // Chooser: the file confirmed last.
    std::u16string fileName;
};

struct TForm::State {
    TForm* form = nullptr;  // null once the form is being destroyed
    HWND hwnd = nullptr;
    // The layout's face and the faces that stand in for it (form_fonts.cpp),
    // each made when first needed.
    static constexpr std::size_t faceCount = 3;
    HFONT fonts[faceCount] = {};
    HWND tooltip = nullptr;
    std::vector<TControl*> controls;  // in creation order
    HWND lastFocus = nullptr;
    int nextId = 100;  // control ids stay clear of IDOK, IDCANCEL and the like
};

namespace win32 {

inline HWND hwndOf(const TControl* control) { return reinterpret_cast<HWND>(control->handle()); }

inline TForm::State* formState(HWND form) {
    return form ? reinterpret_cast<TForm::State*>(GetWindowLongPtrW(form, GWLP_USERDATA)) : nullptr;
}

inline bool has(const layout::Control& entry, unsigned flag) { return (entry.flags & flag) != 0; }

// ---- The form window (form_window.cpp) ----

[[noreturn]] void creationFailed(const char* what);
// The live form whose window is `hwnd` or holds it; null for any other window.
TForm::State* liveFormOf(HWND hwnd);

// ---- Controls (form_controls.cpp) ----

HWND createControlWindow(TForm::State& form, const layout::Control& entry, TControl::State& state);
TControl* controlOf(TForm::State& form, HWND hwnd);
// The radio buttons of the group that `radio` belongs to, in creation order.
std::vector<TControl*> radioGroup(TForm::State& form, const TControl* radio);
bool isChecked(const TControl* radio);
// Visible and enabled: a control that the keyboard may reach.
bool usable(HWND hwnd);

// ---- Keyboard navigation and focus (keyboard_navigation.cpp) ----

// While a thread has a form, its message queue is watched for the keys that
// move between controls.
void watchKeyboard();
void unwatchKeyboard();
// Makes an edit box or a push button answer the dialog manager as a control
// of this form, which is no ordinary dialog (see keyboard_navigation.cpp).
void answerDialogManager(HWND control, TControl::State& state);
// After radio buttons are made or checked from the program.
void keepRadioTabStops(TForm::State& form);
// On activation: the control that had the focus last, else the first tab stop.
void restoreFocus(TForm::State& form);

// ---- The flat speed button (speed_button.cpp) ----

extern const wchar_t speedButtonClassName[];
void registerSpeedButtonClass();
void unregisterSpeedButtonClass();
// The folder glyph, or null when the module carries no such bitmap.
HIMAGELIST loadGlyph();

// ---- Fonts (form_fonts.cpp) ----

// The controls that share a face: their texts are read together.
enum class TextSet { Captions, Buttons, Boxes, None };
TextSet textSetOf(layout::Kind kind);
// The layout's own face, which every control starts with.
HFONT layoutFont(TForm::State& form);
// Gives the set's controls the first face that draws every text they show
// now; run whenever one of those texts changes.
void chooseFont(TForm::State& form, TextSet set);
void releaseFonts(TForm::State& form);
void fitLabel(HWND label);

// ---- Tool tips (tool_tips.cpp) ----

void addHint(TForm::State& form, HWND tool, const std::u16string& hint);
void updateHint(TForm::State& form, HWND tool, const std::u16string& hint);
void removeHint(TForm::State& form, HWND tool, const std::u16string& hint);

}  // namespace win32
}  // namespace forms
