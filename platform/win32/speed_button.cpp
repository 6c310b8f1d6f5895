// The flat speed button: a window of its own rather than a BUTTON, because it
// never takes the focus, shows a raised edge only under the mouse, and draws
// its glyph with the transparent colour left out.
#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms::win32 {

const wchar_t speedButtonClassName[] = L"MistlockSpeedButton";

namespace {

constexpr wchar_t glyphResource[] = L"OPEN_FOLDER";
constexpr COLORREF glyphTransparent = RGB(255, 0, 255);

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

}  // namespace

void registerSpeedButtonClass() {
    WNDCLASSEXW speed{};
    speed.cbSize = sizeof speed;
    speed.lpfnWndProc = &guardedProc<speedButtonMessage>;
    speed.hInstance = platform::win32::ownModule();
    speed.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    speed.lpszClassName = speedButtonClassName;
    if (!RegisterClassExW(&speed) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        creationFailed("speed button window class");
    }
}

void unregisterSpeedButtonClass() { UnregisterClassW(speedButtonClassName, platform::win32::ownModule()); }

HIMAGELIST loadGlyph() {
    // A program that carries no resources of ours gets a button without a
    // picture rather than no dialog.
    const auto bitmap = static_cast<HBITMAP>(
        LoadImageW(platform::win32::ownModule(), glyphResource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
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

}  // namespace forms::win32
