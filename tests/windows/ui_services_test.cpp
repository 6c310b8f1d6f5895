// Message boxes, the switch icons and the foreground monitor, as the user
// and the host see them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"
#include "tests/windows/support/windows_support.h"

namespace {

using wintest::MessageBoxes;

TEST(MessageBoxesShown, PlainBoxHasTextCaptionOkAndNoIcon) {
    MessageBoxes boxes;
    platform::messageBox(u"Файл с ключём не найден.", u"Внимание");
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, u"Файл с ключём не найден.");
    EXPECT_EQ(boxes.seen[0].caption, u"Внимание");
    EXPECT_FALSE(boxes.seen[0].icon);
    EXPECT_TRUE(boxes.seen[0].okOnly);
}

TEST(MessageBoxesShown, UntitledBoxHasAnEmptyCaption) {
    MessageBoxes boxes;
    platform::messageBox(u"Ошибка при шифровании сообщения, отправка отменена.", u"");
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].caption, u"");
    EXPECT_EQ(boxes.seen[0].text, u"Ошибка при шифровании сообщения, отправка отменена.");
}

TEST(MessageBoxesShown, ErrorBoxHasTheMessageAnErrorIconAndOk) {
    MessageBoxes boxes;
    platform::errorBox(u"Cannot write the file \"C:\\x\\Mistlock.ini\": Access denied.");
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, u"Cannot write the file \"C:\\x\\Mistlock.ini\": Access denied.");
    EXPECT_EQ(boxes.seen[0].caption, u"Mistlock");
    EXPECT_TRUE(boxes.seen[0].icon);
    EXPECT_TRUE(boxes.seen[0].okOnly);
}

// The colours of an icon as drawn on a white background.
struct Drawn {
    int opaque = 0;     // pixels that are not the background
    int golden = 0;     // clearly yellow or orange
    int greyish = 0;    // without colour
};

Drawn draw(platform::IconHandle icon) {
    Drawn drawn;
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(dc, 0, 0, reinterpret_cast<HICON>(icon), 16, 16, 0, nullptr, DI_NORMAL);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const COLORREF c = GetPixel(dc, x, y);
            const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
            if (c == RGB(255, 255, 255)) continue;
            ++drawn.opaque;
            if (r > 150 && g > 90 && b < 100 && r - b > 100) ++drawn.golden;
            if (std::abs(r - g) < 16 && std::abs(g - b) < 16) ++drawn.greyish;
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return drawn;
}

TEST(SwitchIcons, BothLoadFromOurOwnModuleAndDiffer) {
    const platform::IconHandle off = platform::loadIcon(u"ZEV");
    const platform::IconHandle on = platform::loadIcon(u"ZEV_CRYPT");
    ASSERT_NE(off, 0u);
    ASSERT_NE(on, 0u);
    EXPECT_NE(off, on);
    EXPECT_EQ(platform::loadIcon(u"NO_SUCH_ICON"), 0u);
    // The host carries the handle in 32 bits.
    EXPECT_LE(on, 0xFFFFFFFFu);
    platform::destroyIcon(off);
    platform::destroyIcon(on);
}

TEST(SwitchIcons, OffIsGreyAndOnIsGold) {
    const Drawn off = draw(platform::loadIcon(u"ZEV"));
    const Drawn on = draw(platform::loadIcon(u"ZEV_CRYPT"));
    EXPECT_GT(off.opaque, 100);
    EXPECT_GT(on.opaque, 100);
    EXPECT_EQ(off.golden, 0);
    EXPECT_GT(on.golden, 40);
    EXPECT_GT(off.greyish, off.opaque * 9 / 10);
}

TEST(SwitchIcons, ReleasingAndLoadingAgainWorks) {
    // The toolbar icon object releases the old handle at every switch.
    for (int i = 0; i < 4; ++i) {
        const platform::IconHandle icon = platform::loadIcon(i % 2 ? u"ZEV_CRYPT" : u"ZEV");
        ASSERT_NE(icon, 0u);
        EXPECT_GT(draw(icon).opaque, 100);
        platform::destroyIcon(icon);
    }
}

TEST(ForegroundMonitor, FullBoundsOfTheMonitorOfTheForegroundWindow) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"foreground", WS_POPUP | WS_VISIBLE, 100, 100, 50, 50, nullptr,
                                        nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    wintest::pumpMessages(50);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(GetForegroundWindow(), MONITOR_DEFAULTTONEAREST), &info);
    const platform::MonitorBounds bounds = platform::foregroundMonitorBounds();
    EXPECT_EQ(bounds.left, info.rcMonitor.left);
    EXPECT_EQ(bounds.top, info.rcMonitor.top);
    EXPECT_EQ(bounds.width, info.rcMonitor.right - info.rcMonitor.left);
    EXPECT_EQ(bounds.height, info.rcMonitor.bottom - info.rcMonitor.top);
    // One monitor: the whole screen, not the work area.
    if (GetSystemMetrics(SM_CMONITORS) == 1) {
        EXPECT_EQ(bounds.width, GetSystemMetrics(SM_CXSCREEN));
        EXPECT_EQ(bounds.height, GetSystemMetrics(SM_CYSCREEN));
    }
    DestroyWindow(window);
}

}  // namespace
