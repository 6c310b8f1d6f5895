// The keys that move between controls, and where the focus goes when the
// form is activated. The host's message loop is not ours and calls no
// IsDialogMessage, so Tab, Shift+Tab and the arrows within a radio group are
// taken from the thread's message queue by a WH_GETMESSAGE hook while a form
// exists.
#include <algorithm>
#include <vector>

#include "platform/win32/forms_internal.h"

namespace forms::win32 {

namespace {

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

// ---- Tab order ----

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

// ---- Tab, Shift+Tab and the arrows of a radio group ----

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
    TForm::State* form = liveFormOf(message.hwnd);
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

void restoreFocus(TForm::State& form) {
    if (form.lastFocus && IsChild(form.hwnd, form.lastFocus) && usable(form.lastFocus)) {
        SetFocus(form.lastFocus);
    } else {
        focusFirst(form);
    }
}

}  // namespace forms::win32
