// The form's fonts, and labels measured in them.
//
// The layout names one face, "MS Sans Serif" for the settings dialog. Its
// bitmap font on a Western system has no Cyrillic letters, on a Cyrillic one
// no Greek, and the texts a form shows are only known once the language file
// has been read. So the face is chosen from the texts actually shown, again
// whenever one changes, and not for the whole form but for each set of
// controls that are read together: the captions, the push buttons, the
// boxes. A set keeps the layout's face when it can draw every text of the
// set, and otherwise takes the first of a few sans-serif faces of the same
// size that can: the English captions of a Western system keep their face
// even though the button's "ОК" needs another.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms::win32 {

using platform::win32::wide;
using platform::win32::windowText;

namespace {

// After the layout's own face, in this order.
const wchar_t* const fallbackFaces[] = {L"Microsoft Sans Serif", L"Tahoma"};

const wchar_t* faceName(const TForm::State& form, std::size_t face) {
    return face == 0 ? reinterpret_cast<const wchar_t*>(form.form->layoutDescription().fontName)
                     : fallbackFaces[face - 1];
}

HFONT fontOf(TForm::State& form, std::size_t face) {
    if (!form.fonts[face]) {
        form.fonts[face] = CreateFontW(-form.form->layoutDescription().fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, faceName(form, face));
    }
    return form.fonts[face];
}

// True when the font has a glyph for every character of the text.
bool drawsAll(HFONT font, const std::u16string& text) {
    if (text.empty()) return true;
    if (!font) return false;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    const DWORD done = GetGlyphIndicesW(dc, wide(text), static_cast<int>(text.size()), glyphs.data(),
                                        GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteDC(dc);
    return done != GDI_ERROR && std::find(glyphs.begin(), glyphs.end(), WORD(0xFFFF)) == glyphs.end();
}

}  // namespace

TextSet textSetOf(layout::Kind kind) {
    switch (kind) {
        case layout::Kind::Label:
        case layout::Kind::RadioButton: return TextSet::Captions;
        case layout::Kind::Button: return TextSet::Buttons;
        case layout::Kind::Edit:
        case layout::Kind::Memo: return TextSet::Boxes;
        default: return TextSet::None;  // the speed button's hint is the tool tip's
    }
}

HFONT layoutFont(TForm::State& form) { return fontOf(form, 0); }

void chooseFont(TForm::State& form, TextSet set) {
    if (set == TextSet::None || !form.form) return;
    std::vector<HWND> members;
    std::u16string texts;
    for (TControl* control : form.controls) {
        const HWND hwnd = hwndOf(control);
        if (hwnd && textSetOf(control->layoutEntry().kind) == set) {
            members.push_back(hwnd);
            texts += windowText(hwnd);
        }
    }
    // Line breaks and tabs are no glyphs.
    texts.erase(std::remove_if(texts.begin(), texts.end(), [](char16_t c) { return c < 0x20; }), texts.end());
    std::size_t chosen = 0;  // when no face can, the layout's
    for (std::size_t face = 0; face < TForm::State::faceCount; ++face) {
        if (drawsAll(fontOf(form, face), texts)) {
            chosen = face;
            break;
        }
    }
    const HFONT font = fontOf(form, chosen);
    for (const HWND hwnd : members) {
        if (reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)) == font) continue;
        SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        TControl* control = controlOf(form, hwnd);
        if (control && control->layoutEntry().kind == layout::Kind::Label) fitLabel(hwnd);
    }
}

void releaseFonts(TForm::State& form) {
    for (HFONT& font : form.fonts) {
        if (font) DeleteObject(font);
        font = nullptr;
    }
}

// A label is as wide as its text, in its font.
void fitLabel(HWND label) {
    const std::u16string text = windowText(label);
    const HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT measure{0, 0, 0, 0};
    const std::u16string shown = text.empty() ? u" " : text;
    DrawTextW(dc, wide(shown), static_cast<int>(shown.size()), &measure, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    RECT rect;
    GetWindowRect(label, &rect);
    SetWindowPos(label, nullptr, 0, 0, measure.right - measure.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace forms::win32
