// The form's font, and labels measured in it.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms::win32 {

using platform::win32::wide;
using platform::win32::windowText;

namespace {

HFONT createFont(const wchar_t* face, int height) {
    return CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// True when the font has a glyph for every character of the text.
bool drawsAll(HFONT font, const std::u16string& text) {
    if (text.empty()) return true;
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

// The layout's font, unless it cannot draw the layout's own texts: the
// bitmap "MS Sans Serif" of a Western system has no Cyrillic letters, not
// even for the "ОК" of the button. Then a sans-serif face of the same size
// that can is taken instead.
HFONT createFormFont(const layout::Form& layout) {
    std::u16string texts = layout.caption ? layout.caption : u"";
    for (std::size_t i = 0; i < layout.controlCount; ++i) {
        if (layout.controls[i].kind != layout::Kind::OpenDialog && layout.controls[i].text) {
            texts += layout.controls[i].text;
        }
    }
    texts.erase(std::remove_if(texts.begin(), texts.end(), [](char16_t c) { return c < 0x20; }), texts.end());
    const wchar_t* faces[] = {reinterpret_cast<const wchar_t*>(layout.fontName), L"Microsoft Sans Serif", L"Tahoma"};
    for (const wchar_t* face : faces) {
        const HFONT font = createFont(face, layout.fontHeight);
        if (font && drawsAll(font, texts)) return font;
        if (font) DeleteObject(font);
    }
    return createFont(faces[0], layout.fontHeight);
}

// A label is as wide as its text, in the form's font.
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
