// The keys that move between controls, and where the focus goes when the
// form is activated.
//
// The host's message loop is not ours and calls no IsDialogMessage, so while
// a form exists a WH_GETMESSAGE hook on its thread hands the dialog manager
// the keys that navigate: Tab and Shift+Tab through the tab stops, the arrows
// within a radio group. Every other key stays the focused control's, as in a
// window that is no dialog: Enter and Esc are no OK and Cancel here, Ctrl+Tab
// is no Tab, and the form has no default button.
//
// The dialog manager reads the tab order from the stacking of the children
// and their WS_TABSTOP and WS_GROUP styles; form_controls.cpp stacks them in
// the layout's tab order, and this file keeps one tab stop per radio group and
// tells the manager what each control wants.
#include <algorithm>
#include <vector>

#include "platform/win32/forms_internal.h"

namespace forms::win32 {

namespace {

// ---- One tab stop per radio group ----

// As the dialog manager sees it: by the control's own styles, whether or not
// the form is shown yet.
bool reachable(HWND control) {
    return (GetWindowLongPtrW(control, GWL_STYLE) & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE;
}

// The group is entered at its checked button, or at its first when none is
// checked. A button of it that has the focus stands for the group, checked
// or not, so that Tab leaves the group from there rather than stopping at
// the checked button on the way out.
void placeRadioTabStops(TForm::State& form, HWND focus) {
    std::vector<const TControl*> groupsDone;
    for (TControl* control : form.controls) {
        if (control->layoutEntry().kind != layout::Kind::RadioButton || !hwndOf(control)) continue;
        const std::vector<TControl*> group = radioGroup(form, control);
        if (group.empty() || std::find(groupsDone.begin(), groupsDone.end(), group.front()) != groupsDone.end()) {
            continue;
        }
        groupsDone.push_back(group.front());
        HWND stop = nullptr;
        for (TControl* member : group) {
            if (hwndOf(member) == focus) stop = focus;
        }
        for (auto it = group.begin(); !stop && it != group.end(); ++it) {
            if (reachable(hwndOf(*it)) && isChecked(*it)) stop = hwndOf(*it);
        }
        for (auto it = group.begin(); !stop && it != group.end(); ++it) {
            if (reachable(hwndOf(*it))) stop = hwndOf(*it);
        }
        for (TControl* member : group) {
            const HWND hwnd = hwndOf(member);
            const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            const LONG_PTR wanted = hwnd == stop ? style | WS_TABSTOP : style & ~LONG_PTR(WS_TABSTOP);
            if (wanted != style) SetWindowLongPtrW(hwnd, GWL_STYLE, wanted);
        }
    }
}

// ---- The hook of each thread that has a form ----

struct ThreadHook {
    DWORD thread;
    HHOOK hook;
    int forms;
};

std::vector<ThreadHook> threadHooks;

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

bool keyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

bool navigates(const MSG& message) {
    if (message.message != WM_KEYDOWN) return false;
    switch (message.wParam) {
        case VK_TAB: return !keyDown(VK_CONTROL) && !keyDown(VK_MENU);
        case VK_UP:
        case VK_DOWN:
        case VK_LEFT:
        case VK_RIGHT: return true;
        default: return false;
    }
}

// True when the dialog manager took the key. It dispatches what it does not
// act on itself (an arrow in an edit box), so the key is done with either way.
bool navigate(TForm::State& form, MSG& message) {
    if (message.wParam != VK_TAB) return IsDialogMessageW(form.hwnd, &message) != FALSE;
    placeRadioTabStops(form, GetFocus());
    const BOOL taken = IsDialogMessageW(form.hwnd, &message);
    placeRadioTabStops(form, nullptr);
    return taken != FALSE;
}

LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        try {
            MSG* message = reinterpret_cast<MSG*>(lParam);
            TForm::State* form = navigates(*message) ? liveFormOf(message->hwnd) : nullptr;
            if (form && navigate(*form, *message)) {
                message->message = WM_NULL;
                message->wParam = 0;
                message->lParam = 0;
            }
        } catch (...) {
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- What each control tells the dialog manager ----

TControl::State* subclassedState(HWND hwnd) {
    return reinterpret_cast<TControl::State*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT subclassedMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TControl::State* state = subclassedState(hwnd);
    if (!state || !state->standardProc) return DefWindowProcW(hwnd, message, wParam, lParam);
    const WNDPROC standard = state->standardProc;
    switch (message) {
        case WM_GETDLGCODE: {
            // Asked without the message: an edit box asked with one takes
            // itself to be in a dialog for good, and then closes it on Esc
            // and moves the focus on Ctrl+Tab. Without "all keys" the memo
            // leaves Tab to the dialog manager; without the push-button
            // codes no button is made the default one.
            const LRESULT code = CallWindowProcW(standard, hwnd, message, wParam, 0);
            return code & ~(DLGC_WANTALLKEYS | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
        }
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(standard));
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            state->standardProc = nullptr;
            break;
        default:
            break;
    }
    return CallWindowProcW(standard, hwnd, message, wParam, lParam);
}

// The first tab stop, with an edit box's text selected as when Tab enters it.
void focusFirst(TForm::State& form) {
    const HWND first = GetNextDlgTabItem(form.hwnd, nullptr, FALSE);
    if (!first) return;
    SetFocus(first);
    if (SendMessageW(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(first, EM_SETSEL, 0, -1);
}

}  // namespace

void watchKeyboard() {
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

void unwatchKeyboard() {
    const DWORD thread = GetCurrentThreadId();
    for (auto it = threadHooks.begin(); it != threadHooks.end(); ++it) {
        if (it->thread == thread && --it->forms == 0) {
            if (it->hook) UnhookWindowsHookEx(it->hook);
            threadHooks.erase(it);
            break;
        }
    }
}

void answerDialogManager(HWND control, TControl::State& state) {
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.standardProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&guardedProc<subclassedMessage>)));
}

void keepRadioTabStops(TForm::State& form) { placeRadioTabStops(form, nullptr); }

void restoreFocus(TForm::State& form) {
    if (form.lastFocus && IsChild(form.hwnd, form.lastFocus) && usable(form.lastFocus)) {
        SetFocus(form.lastFocus);
    } else {
        focusFirst(form);
    }
}

}  // namespace forms::win32
