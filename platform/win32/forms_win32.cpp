// The form toolkit over real windows. A form is a fixed-size, modeless,
// unowned top-level window; each control is a child window made from its
// layout entry. The host's message loop is not ours and calls no
// IsDialogMessage, so the keys that move between controls (Tab, Shift+Tab,
// the arrows within a radio group) are taken from the thread's message queue
// by a WH_GETMESSAGE hook while a form exists.
//
// Nothing may leave a window procedure or a hook as a C++ exception: each one
// catches everything at its boundary.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

namespace forms {

struct TControl::State {
    HWND hwnd = nullptr;
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
    HFONT font = nullptr;
    HWND tooltip = nullptr;
    std::vector<TControl*> controls;  // in creation order
    HWND lastFocus = nullptr;
    int nextId = 100;  // control ids stay clear of IDOK, IDCANCEL and the like
};

namespace {

using platform::win32::fromWide;
using platform::win32::ownModule;
using platform::win32::wide;
using platform::win32::windowText;

constexpr wchar_t formClassName[] = L"MistlockForm";
constexpr wchar_t speedButtonClassName[] = L"MistlockSpeedButton";
constexpr wchar_t glyphResource[] = L"OPEN_FOLDER";
constexpr COLORREF glyphTransparent = RGB(255, 0, 255);

HWND hwndOf(const TControl* control) { return reinterpret_cast<HWND>(control->handle()); }

TForm::State* formState(HWND form) {
    return form ? reinterpret_cast<TForm::State*>(GetWindowLongPtrW(form, GWLP_USERDATA)) : nullptr;
}

bool has(const layout::Control& entry, unsigned flag) { return (entry.flags & flag) != 0; }

// ---- Forms alive, and the keyboard hook of each thread that has one --------

struct ThreadHook {
    DWORD thread;
    HHOOK hook;
    int forms;
};

std::vector<TForm::State*> liveForms;
std::vector<ThreadHook> threadHooks;
bool classesRegistered = false;

LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam);

void addLiveForm(TForm::State* state) {
    liveForms.push_back(state);
    const DWORD thread = GetCurrentThreadId();
    for (auto& entry : threadHooks) {
        if (entry.thread == thread) {
            ++entry.forms;
            return;
        }
    }
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &keyboardHook, nullptr, thread);
    threadHooks.push_back({thread, hook, 1});
}

void removeLiveForm(TForm::State* state) {
    liveForms.erase(std::remove(liveForms.begin(), liveForms.end(), state), liveForms.end());
    const DWORD thread = GetCurrentThreadId();
    for (auto it = threadHooks.begin(); it != threadHooks.end(); ++it) {
        if (it->thread == thread && --it->forms == 0) {
            if (it->hook) UnhookWindowsHookEx(it->hook);
            threadHooks.erase(it);
            break;
        }
    }
}

// Should the library go away with a form still alive, its hook must not stay
// behind pointing into code that is gone.
struct UnhookAtUnload {
    ~UnhookAtUnload() {
        for (auto& entry : threadHooks) {
            if (entry.hook) UnhookWindowsHookEx(entry.hook);
        }
        threadHooks.clear();
    }
} unhookAtUnload;

// ---- Controls of a form ----------------------------------------------------

TControl* controlOf(TForm::State& form, HWND hwnd) {
    if (!hwnd) return nullptr;
    for (TControl* control : form.controls) {
        if (hwndOf(control) == hwnd) return control;
    }
    return nullptr;
}

bool usable(HWND hwnd) { return hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd); }

// The radio buttons of the group that `radio` belongs to: from the nearest
// group start up to the next one, in creation order.
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

// The controls that Tab visits, in tab order. A radio group is one stop: its
// checked button, or its first when none is checked.
std::vector<HWND> tabStops(TForm::State& form) {
    std::vector<TControl*> ordered;
    for (TControl* control : form.controls) {
        if (control->layoutEntry().tabOrder >= 0 && hwndOf(control)) ordered.push_back(control);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const TControl* a, const TControl* b) {
        return a->layoutEntry().tabOrder < b->layoutEntry().tabOrder;
    });
    std::vector<HWND> stops;
    std::vector<const TControl*> groupsDone;
    for (TControl* control : ordered) {
        if (control->layoutEntry().kind != layout::Kind::RadioButton) {
            if (usable(hwndOf(control))) stops.push_back(hwndOf(control));
            continue;
        }
        const std::vector<TControl*> group = radioGroup(form, control);
        if (group.empty() || std::find(groupsDone.begin(), groupsDone.end(), group.front()) != groupsDone.end()) {
            continue;
        }
        groupsDone.push_back(group.front());
        HWND stop = nullptr;
        for (TControl* member : group) {
            if (usable(hwndOf(member)) && isChecked(member)) stop = hwndOf(member);
        }
        for (auto it = group.begin(); !stop && it != group.end(); ++it) {
            if (usable(hwndOf(*it))) stop = hwndOf(*it);
        }
        if (stop) stops.push_back(stop);
    }
    return stops;
}

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

void focusControl(HWND control) {
    if (!control) return;
    SetFocus(control);
    wchar_t className[16] = {};
    GetClassNameW(control, className, 16);
    // As in a dialog: an edit box entered from the keyboard has its text selected.
    if (lstrcmpiW(className, L"Edit") == 0) SendMessageW(control, EM_SETSEL, 0, -1);
}

void focusFirst(TForm::State& form) {
    const std::vector<HWND> stops = tabStops(form);
    if (!stops.empty()) focusControl(stops.front());
}

void restoreFocus(TForm::State& form) {
    if (form.lastFocus && IsChild(form.hwnd, form.lastFocus) && usable(form.lastFocus)) {
        SetFocus(form.lastFocus);
    } else {
        focusFirst(form);
    }
}

// ---- Keyboard: Tab, Shift+Tab and the arrows of a radio group ----------------

TForm::State* formOfWindow(HWND hwnd) {
    for (TForm::State* state : liveForms) {
        if (state->form && state->hwnd && (hwnd == state->hwnd || IsChild(state->hwnd, hwnd))) return state;
    }
    return nullptr;
}

bool keyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

bool moveByTab(TForm::State& form, bool backwards) {
    const std::vector<HWND> stops = tabStops(form);
    if (stops.empty()) return true;
    HWND focus = GetFocus();
    // A radio button that is focused stands for its group's stop.
    if (TControl* control = controlOf(form, focus); control && control->layoutEntry().kind == layout::Kind::RadioButton) {
        for (TControl* member : radioGroup(form, control)) {
            if (std::find(stops.begin(), stops.end(), hwndOf(member)) != stops.end()) focus = hwndOf(member);
        }
    }
    const auto at = std::find(stops.begin(), stops.end(), focus);
    const std::size_t n = stops.size();
    std::size_t next;
    if (at == stops.end()) {
        next = backwards ? n - 1 : 0;
    } else {
        const std::size_t index = static_cast<std::size_t>(at - stops.begin());
        next = backwards ? (index + n - 1) % n : (index + 1) % n;
    }
    focusControl(stops[next]);
    return true;
}

bool moveInRadioGroup(TForm::State& form, TControl* radio, bool backwards) {
    std::vector<TControl*> group = radioGroup(form, radio);
    group.erase(std::remove_if(group.begin(), group.end(), [](TControl* c) { return !usable(hwndOf(c)); }),
                group.end());
    const auto at = std::find(group.begin(), group.end(), radio);
    if (group.size() < 2 || at == group.end()) return true;
    const std::size_t n = group.size();
    const std::size_t index = static_cast<std::size_t>(at - group.begin());
    auto* next = static_cast<TRadioButton*>(group[backwards ? (index + n - 1) % n : (index + 1) % n]);
    SetFocus(hwndOf(next));
    next->setChecked(true);
    return true;
}

// True when the key was the toolkit's to handle; the message then goes no further.
bool handleKey(const MSG& message) {
    TForm::State* form = formOfWindow(message.hwnd);
    if (!form) return false;
    switch (message.wParam) {
        case VK_TAB:
            if (keyDown(VK_CONTROL) || keyDown(VK_MENU)) return false;
            return moveByTab(*form, keyDown(VK_SHIFT));
        case VK_UP:
        case VK_DOWN:
        case VK_LEFT:
        case VK_RIGHT: {
            TControl* control = controlOf(*form, message.hwnd);
            if (!control || control->layoutEntry().kind != layout::Kind::RadioButton) return false;
            return moveInRadioGroup(*form, control, message.wParam == VK_UP || message.wParam == VK_LEFT);
        }
        default:
            return false;
    }
}

LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        try {
            MSG* message = reinterpret_cast<MSG*>(lParam);
            if (message->message == WM_KEYDOWN && handleKey(*message)) {
                message->message = WM_NULL;
                message->wParam = 0;
                message->lParam = 0;
            }
        } catch (...) {
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- The form's window procedure --------------------------------------------

void clickControl(TForm::State& form, HWND hwnd) {
    TControl* control = controlOf(form, hwnd);
    if (!control) return;
    switch (control->layoutEntry().kind) {
        case layout::Kind::Button: static_cast<TButton*>(control)->click(); break;
        case layout::Kind::SpeedButton: static_cast<TSpeedButton*>(control)->click(); break;
        default: break;
    }
}

LRESULT formMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    TForm::State* state = formState(hwnd);
    if (!state || !state->form) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_CLOSE:  // the close box, the system menu, Alt+F4
            state->form->close();
            return 0;
        case WM_COMMAND:
            // Buttons report their clicks; the IDOK and IDCANCEL that a
            // dialog manager makes of Enter and Esc mean nothing here.
            if (lParam != 0 && HIWORD(wParam) == BN_CLICKED) clickControl(*state, reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // Labels and radio buttons draw on the form's own background.
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkMode(dc, TRANSPARENT);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_CTLCOLOREDIT: {
            TControl* control = controlOf(*state, reinterpret_cast<HWND>(lParam));
            if (control && has(control->layoutEntry(), layout::ButtonFace)) {
                const HDC dc = reinterpret_cast<HDC>(wParam);
                SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus && IsChild(hwnd, focus)) state->lastFocus = focus;
            } else if (!HIWORD(wParam)) {
                restoreFocus(*state);
            }
            return 0;
        case WM_SETFOCUS:
            restoreFocus(*state);
            return 0;
        case WM_NCDESTROY:
            state->hwnd = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return formMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

// ---- The flat speed button ------------------------------------------------------
// A window of its own rather than a BUTTON: it never takes the focus, shows
// a raised edge only under the mouse, and draws its glyph with the
// transparent colour left out.

TControl::State* speedState(HWND hwnd) { return reinterpret_cast<TControl::State*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

bool cursorInside(HWND hwnd, LPARAM lParam) {
    RECT rect;
    GetClientRect(hwnd, &rect);
    const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    return PtInRect(&rect, point) != 0;
}

void paintSpeedButton(HWND hwnd, TControl::State& state) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(hwnd, &paint);
    RECT rect;
    GetClientRect(hwnd, &rect);
    FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
    const bool down = state.pressed && GetCapture() == hwnd;
    if (down) {
        DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
    } else if (state.hot && IsWindowEnabled(hwnd)) {
        DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
    }
    if (state.glyph) {
        int width = 0, height = 0;
        ImageList_GetIconSize(state.glyph, &width, &height);
        const int x = (rect.right - width) / 2 + (down ? 1 : 0);
        const int y = (rect.bottom - height) / 2 + (down ? 1 : 0);
        ImageList_Draw(state.glyph, 0, dc, x, y, ILD_TRANSPARENT);
    }
    EndPaint(hwnd, &paint);
}

LRESULT speedButtonMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    TControl::State* state = speedState(hwnd);
    if (!state) return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_PAINT:
            paintSpeedButton(hwnd, *state);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            SetCapture(hwnd);
            state->pressed = true;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE: {
            if (!state->trackingLeave) {
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
                state->trackingLeave = TrackMouseEvent(&track) != 0;
            }
            const bool inside = cursorInside(hwnd, lParam);
            const bool pressed = GetCapture() == hwnd && inside;
            if (inside != state->hot || pressed != state->pressed) {
                state->hot = inside;
                state->pressed = pressed;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        }
        case WM_MOUSELEAVE:
            state->trackingLeave = false;
            state->hot = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_LBUTTONUP: {
            const bool wasCaptured = GetCapture() == hwnd;
            const bool inside = cursorInside(hwnd, lParam);
            state->pressed = false;
            if (wasCaptured) ReleaseCapture();
            InvalidateRect(hwnd, nullptr, FALSE);
            if (wasCaptured && inside) {
                SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                             reinterpret_cast<LPARAM>(hwnd));
            }
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (state->pressed) {
                state->pressed = false;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_ACTIVATE;
        case WM_SETFONT:
            state->font = reinterpret_cast<HFONT>(wParam);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(state->font);
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK speedButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return speedButtonMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

// ---- Creation ------------------------------------------------------------------

[[noreturn]] void creationFailed(const char* what) {
    const DWORD error = GetLastError();
    throw Exception(std::string("Cannot create the ") + what + ": " +
                    utf8::encode(platform::win32::systemMessage(error)));
}

void registerClasses() {
    if (classesRegistered) return;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = &formProc;
    form.hInstance = ownModule();
    form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = formClassName;
    if (!RegisterClassExW(&form) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) creationFailed("form window class");

    WNDCLASSEXW speed{};
    speed.cbSize = sizeof speed;
    speed.lpfnWndProc = &speedButtonProc;
    speed.hInstance = ownModule();
    speed.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    speed.lpszClassName = speedButtonClassName;
    if (!RegisterClassExW(&speed) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        creationFailed("speed button window class");
    }
    classesRegistered = true;
}

void unregisterClassesIfUnused() {
    if (!classesRegistered || !liveForms.empty()) return;
    UnregisterClassW(formClassName, ownModule());
    UnregisterClassW(speedButtonClassName, ownModule());
    classesRegistered = false;
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

HIMAGELIST loadGlyph() {
    // A program that carries no resources of ours gets a button without a
    // picture rather than no dialog.
    const auto bitmap = static_cast<HBITMAP>(
        LoadImageW(ownModule(), glyphResource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return nullptr;
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    HIMAGELIST list = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, 1, 0);
    if (list && ImageList_AddMasked(list, bitmap, glyphTransparent) < 0) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    DeleteObject(bitmap);
    return list;
}

TOOLINFOW toolInfo(const TForm::State& form, HWND tool, const std::u16string& text) {
    TOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = form.hwnd;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = const_cast<wchar_t*>(wide(text));
    return info;
}

void addHint(TForm::State& form, HWND tool, const std::u16string& hint) {
    if (!form.tooltip) {
        form.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form.hwnd, nullptr,
                                       ownModule(), nullptr);
        if (!form.tooltip) return;  // the form works without hints
    }
    TOOLINFOW info = toolInfo(form, tool, hint);
    SendMessageW(form.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
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
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(form.font), FALSE);
    switch (entry.kind) {
        case layout::Kind::Edit:
        case layout::Kind::Memo:
            SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);  // no limit beyond the system's
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

}  // namespace

// ---- TControl and its kinds ---------------------------------------------------------

TControl::TControl(TForm& form, const char* name) : form_(form), entry_(form.layoutDescription().find(name)) {
    if (!entry_) throw std::logic_error(std::string("no layout entry for control ") + name);
    state_ = std::make_unique<State>();
    TForm::State& owner = *form.state_;
    state_->hwnd = createControlWindow(owner, *entry_, *state_);
    try {
        owner.controls.push_back(this);
    } catch (...) {
        if (state_->hwnd) DestroyWindow(state_->hwnd);
        throw;
    }
    stackInTabOrder(owner);
}

TControl::~TControl() {
    TForm::State& owner = *form_.state_;
    owner.controls.erase(std::remove(owner.controls.begin(), owner.controls.end(), this), owner.controls.end());
    if (state_->hwnd && IsWindow(state_->hwnd)) {
        if (owner.tooltip && IsWindow(owner.tooltip)) {
            TOOLINFOW info = toolInfo(owner, state_->hwnd, state_->hint);
            SendMessageW(owner.tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
        }
        if (owner.lastFocus == state_->hwnd) owner.lastFocus = nullptr;
        DestroyWindow(state_->hwnd);
    }
    if (state_->glyph) ImageList_Destroy(state_->glyph);
}

std::uintptr_t TControl::handle() const { return reinterpret_cast<std::uintptr_t>(state_->hwnd); }

std::u16string TLabel::caption() const { return windowText(state_->hwnd); }

void TLabel::setCaption(const std::u16string& caption) {
    SetWindowTextW(state_->hwnd, wide(caption));
    fitLabel(state_->hwnd);
}

std::u16string TEdit::text() const { return windowText(state_->hwnd); }
void TEdit::setText(const std::u16string& text) { SetWindowTextW(state_->hwnd, wide(text)); }

std::u16string TMemo::text() const { return windowText(state_->hwnd); }
void TMemo::setText(const std::u16string& text) { SetWindowTextW(state_->hwnd, wide(text)); }

std::u16string TRadioButton::caption() const { return windowText(state_->hwnd); }
void TRadioButton::setCaption(const std::u16string& caption) { SetWindowTextW(state_->hwnd, wide(caption)); }
bool TRadioButton::checked() const { return isChecked(this); }

void TRadioButton::setChecked(bool checked) {
    SendMessageW(state_->hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (!checked) return;
    TForm::State* owner = formState(reinterpret_cast<HWND>(form_.handle()));
    if (!owner) return;
    for (TControl* member : radioGroup(*owner, this)) {
        if (member != this) SendMessageW(hwndOf(member), BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

std::u16string TSpeedButton::hint() const { return state_->hint; }

void TSpeedButton::setHint(const std::u16string& hint) {
    state_->hint = hint;
    TForm::State* owner = formState(reinterpret_cast<HWND>(form_.handle()));
    if (owner && owner->tooltip && state_->hwnd) {
        TOOLINFOW info = toolInfo(*owner, state_->hwnd, state_->hint);
        SendMessageW(owner->tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    }
}

bool TOpenDialog::execute() {
    // "Name|pattern|Name|pattern" becomes the chooser's list of pairs.
    std::wstring filter;
    for (const char16_t* p = entry_->text ? entry_->text : u""; *p; ++p) filter += *p == u'|' ? L'\0' : wchar_t(*p);
    filter += L'\0';
    filter += L'\0';

    std::vector<wchar_t> file(32768, L'\0');
    if (state_->fileName.size() < file.size()) {
        std::copy(state_->fileName.begin(), state_->fileName.end(), file.begin());
    }

    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = reinterpret_cast<HWND>(form_.handle());
    chooser.lpstrFilter = filter.c_str();
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = file.data();
    chooser.nMaxFile = static_cast<DWORD>(file.size());
    // The host's current folder is not the chooser's to change.
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (has(*entry_, layout::FileMustExist)) chooser.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (has(*entry_, layout::Resizable)) chooser.Flags |= OFN_ENABLESIZING;

    if (GetOpenFileNameW(&chooser)) {
        state_->fileName = fromWide(file.data(), wcsnlen(file.data(), file.size()));
        return true;
    }
    if (const DWORD error = CommDlgExtendedError()) {
        char text[96];
        std::snprintf(text, sizeof text, "The file chooser failed (error 0x%04lX).", static_cast<unsigned long>(error));
        throw Exception(text);
    }
    return false;
}

std::u16string TOpenDialog::fileName() const { return state_->fileName; }

// ---- TForm ------------------------------------------------------------------------

TForm::TForm(const layout::Form& layout) : layout_(layout), state_(std::make_unique<State>()) {
    state_->form = this;
    registerClasses();
    state_->font = createFormFont(layout);

    // A fixed dialog frame: caption, system menu with Close, no sizing, no
    // minimise or maximise box; no owner, hidden until shown.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame{0, 0, layout.clientWidth, layout.clientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    state_->hwnd = CreateWindowExW(exStyle, formClassName, reinterpret_cast<const wchar_t*>(layout.caption), style,
                                   layout.designLeft, layout.designTop, frame.right - frame.left,
                                   frame.bottom - frame.top, nullptr, nullptr, ownModule(), state_.get());
    if (!state_->hwnd) {
        if (state_->font) DeleteObject(state_->font);
        creationFailed("form window");
    }
    // Whatever the frame turned out to be, the client area is the layout's.
    RECT client;
    GetClientRect(state_->hwnd, &client);
    const int dx = layout.clientWidth - (client.right - client.left);
    const int dy = layout.clientHeight - (client.bottom - client.top);
    if (dx != 0 || dy != 0) {
        RECT outer;
        GetWindowRect(state_->hwnd, &outer);
        SetWindowPos(state_->hwnd, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    addLiveForm(state_.get());
}

TForm::~TForm() {
    state_->form = nullptr;  // no handler runs from here on
    if (state_->hwnd && IsWindow(state_->hwnd)) DestroyWindow(state_->hwnd);
    if (state_->font) DeleteObject(state_->font);
    removeLiveForm(state_.get());
    unregisterClassesIfUnused();
}

std::uintptr_t TForm::handle() const { return reinterpret_cast<std::uintptr_t>(state_->hwnd); }

std::u16string TForm::caption() const { return windowText(state_->hwnd); }
void TForm::setCaption(const std::u16string& caption) { SetWindowTextW(state_->hwnd, wide(caption)); }

namespace {
RECT outerRect(HWND hwnd) {
    RECT rect{0, 0, 0, 0};
    GetWindowRect(hwnd, &rect);
    return rect;
}
}  // namespace

int TForm::left() const { return outerRect(state_->hwnd).left; }
int TForm::top() const { return outerRect(state_->hwnd).top; }

void TForm::setLeft(int left) {
    SetWindowPos(state_->hwnd, nullptr, left, top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::setTop(int top) {
    SetWindowPos(state_->hwnd, nullptr, left(), top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::width() const {
    const RECT rect = outerRect(state_->hwnd);
    return rect.right - rect.left;
}

int TForm::height() const {
    const RECT rect = outerRect(state_->hwnd);
    return rect.bottom - rect.top;
}

bool TForm::visible() const { return state_->hwnd && IsWindowVisible(state_->hwnd); }

void TForm::show() {
    const HWND hwnd = state_->hwnd;
    if (!hwnd) return;
    if (!IsWindowVisible(hwnd)) {
        runHandler([this] { onShow(); });
        ShowWindow(hwnd, SW_SHOWNORMAL);
    } else if (IsIconic(hwnd)) {
        ShowWindow(hwnd, SW_RESTORE);
    }
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    BringWindowToTop(hwnd);
    SetForegroundWindow(hwnd);
}

void TForm::close() {
    bool closed = false;
    runHandler([&] {
        onClose();
        closed = true;
    });
    if (closed && state_->hwnd) ShowWindow(state_->hwnd, SW_HIDE);
}

}  // namespace forms
