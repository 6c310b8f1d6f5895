// The speed button's hint as a tool tip. The tip window belongs to the form
// and is made with the first hint; a form without hints has none.
#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms::win32 {

namespace {

TOOLINFOW toolInfo(const TForm::State& form, HWND tool, const std::u16string& text) {
    TOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = form.hwnd;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = const_cast<wchar_t*>(platform::win32::wide(text));
    return info;
}

}  // namespace

void addHint(TForm::State& form, HWND tool, const std::u16string& hint) {
    if (!form.tooltip) {
        form.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form.hwnd, nullptr,
                                       platform::win32::ownModule(), nullptr);
        if (!form.tooltip) return;  // the form works without hints
    }
    TOOLINFOW info = toolInfo(form, tool, hint);
    SendMessageW(form.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void updateHint(TForm::State& form, HWND tool, const std::u16string& hint) {
    if (!form.tooltip || !tool) return;
    TOOLINFOW info = toolInfo(form, tool, hint);
    SendMessageW(form.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void removeHint(TForm::State& form, HWND tool, const std::u16string& hint) {
    if (!form.tooltip || !IsWindow(form.tooltip)) return;
    TOOLINFOW info = toolInfo(form, tool, hint);
    SendMessageW(form.tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

}  // namespace forms::win32
