#pragma once
// The shape of a form layout: what the form toolkit needs to create a window
// and its controls. The layouts themselves live beside this file.
#include <cstddef>

namespace layout {

enum class Kind { Label, Edit, Memo, RadioButton, Button, SpeedButton, OpenDialog };

// Properties beyond position, size and text.
enum Flags : unsigned {
    None = 0,
    Checked = 1u << 0,         // radio button starts checked
    Transparent = 1u << 1,     // label draws on the form's background
    ButtonFace = 1u << 2,      // edit box on the button-face colour, still editable
    WordWrap = 1u << 3,        // memo wraps long lines at its edge
    WantReturns = 1u << 4,     // Enter starts a new line in a memo
    GroupStart = 1u << 5,      // first control of a radio group
    Flat = 1u << 6,            // speed button drawn flat
    ShowHint = 1u << 7,        // the hint is shown as a tool tip
    FileMustExist = 1u << 8,   // chooser accepts existing files only
    Resizable = 1u << 9,       // chooser can be resized
    SunkenBorder = 1u << 10,   // 3-D sunken border
    Glyph = 1u << 11,          // speed button shows the open-folder glyph
};

struct Control {
    const char* name;
    Kind kind;
    int left, top, width, height;  // client-area pixels at 96 dpi
    const char16_t* text;          // caption, text, hint (speed button) or filter (chooser)
    int tabOrder;                  // -1: not a tab stop
    unsigned flags;
};

struct Form {
    const char* name;
    const char16_t* caption;
    int clientWidth, clientHeight;
    int designLeft, designTop;
    const char16_t* fontName;
    int fontHeight;  // pixels at 96 dpi
    const Control* controls;
    std::size_t controlCount;

    const Control* find(const char* controlName) const;
};

}  // namespace layout
