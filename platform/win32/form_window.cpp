// TForm: the form's top-level window, its window class and procedure, and the
// forms alive at any time.
//
// To the dialog manager the form is a dialog: its class keeps the manager's
// extra bytes and DefDlgProcW is its default procedure, which moves the focus
// when asked to (WM_NEXTDLGCTL). Where a dialog would differ from the form
// (closing, activation, Enter and Esc) the form answers first.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms {

using platform::win32::ownModule;
using platform::win32::wide;
using platform::win32::windowText;

namespace win32 {

namespace {

constexpr wchar_t formClassName[] = L"MistlockForm";

std::vector<TForm::State*> liveForms;
bool classesRegistered = false;

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
        return DefDlgProcW(hwnd, message, wParam, lParam);
    }
    TForm::State* state = formState(hwnd);
    if (!state || !state->form) return DefDlgProcW(hwnd, message, wParam, lParam);
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
    return DefDlgProcW(hwnd, message, wParam, lParam);
}

void registerClasses() {
    if (classesRegistered) return;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = &guardedProc<formMessage>;
    form.cbWndExtra = DLGWINDOWEXTRA;
    form.hInstance = ownModule();
    form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = formClassName;
    if (!RegisterClassExW(&form) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) creationFailed("form window class");

    registerSpeedButtonClass();
    classesRegistered = true;
}

void unregisterClassesIfUnused() {
    if (!classesRegistered || !liveForms.empty()) return;
    UnregisterClassW(formClassName, ownModule());
    unregisterSpeedButtonClass();
    classesRegistered = false;
}

RECT outerRect(HWND hwnd) {
    RECT rect{0, 0, 0, 0};
    GetWindowRect(hwnd, &rect);
    return rect;
}

}  // namespace

[[noreturn]] void creationFailed(const char* what) {
    const DWORD error = GetLastError();
    throw Exception(std::string("Cannot create the ") + what + ": " +
                    utf8::encode(platform::win32::systemMessage(error)));
}

TForm::State* liveFormOf(HWND hwnd) {
    for (TForm::State* state : liveForms) {
        if (state->form && state->hwnd && (hwnd == state->hwnd || IsChild(state->hwnd, hwnd))) return state;
    }
    return nullptr;
}

}  // namespace win32

TForm::TForm(const layout::Form& layout) : layout_(layout), state_(std::make_unique<State>()) {
    state_->form = this;
    win32::registerClasses();

    // A fixed dialog frame: caption, system menu with Close, no sizing, no
    // minimise or maximise box; no owner, hidden until shown.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame{0, 0, layout.clientWidth, layout.clientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    state_->hwnd = CreateWindowExW(exStyle, win32::formClassName, reinterpret_cast<const wchar_t*>(layout.caption),
                                   style, layout.designLeft, layout.designTop, frame.right - frame.left,
                                   frame.bottom - frame.top, nullptr, nullptr, ownModule(), state_.get());
    if (!state_->hwnd) win32::creationFailed("form window");
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
    win32::liveForms.push_back(state_.get());
    win32::watchKeyboard();
}

TForm::~TForm() {
    state_->form = nullptr;  // no handler runs from here on
    if (state_->hwnd && IsWindow(state_->hwnd)) DestroyWindow(state_->hwnd);
    win32::releaseFonts(*state_);
    win32::liveForms.erase(std::remove(win32::liveForms.begin(), win32::liveForms.end(), state_.get()),
                           win32::liveForms.end());
    win32::unwatchKeyboard();
    win32::unregisterClassesIfUnused();
}

std::uintptr_t TForm::handle() const { return reinterpret_cast<std::uintptr_t>(state_->hwnd); }

std::u16string TForm::caption() const { return windowText(state_->hwnd); }
void TForm::setCaption(const std::u16string& caption) { SetWindowTextW(state_->hwnd, wide(caption)); }

int TForm::left() const { return win32::outerRect(state_->hwnd).left; }
int TForm::top() const { return win32::outerRect(state_->hwnd).top; }

void TForm::setLeft(int left) {
    SetWindowPos(state_->hwnd, nullptr, left, top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::setTop(int top) {
    SetWindowPos(state_->hwnd, nullptr, left(), top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::width() const {
    const RECT rect = win32::outerRect(state_->hwnd);
    return rect.right - rect.left;
}

int TForm::height() const {
    const RECT rect = win32::outerRect(state_->hwnd);
    return rect.bottom - rect.top;
}

bool TForm::visible() const { return state_->hwnd && IsWindowVisible(state_->hwnd); }

void TForm::show() {
    const HWND hwnd = state_->hwnd;
    if (!hwnd) return;
    if (!IsWindowVisible(hwnd)) {
        const auto life = lifetime();
        runHandler([this] { onShow(); }, this);
        if (life.expired()) return;
        ShowWindow(hwnd, SW_SHOWNORMAL);
    } else if (IsIconic(hwnd)) {
        ShowWindow(hwnd, SW_RESTORE);
    }
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    BringWindowToTop(hwnd);
    SetForegroundWindow(hwnd);
}

void TForm::close() {
    const auto life = lifetime();
    bool closed = false;
    runHandler([&] {
        onClose();
        closed = true;
    }, this);
    if (closed && !life.expired() && state_->hwnd) ShowWindow(state_->hwnd, SW_HIDE);
}

}  // namespace forms
