// The settings dialog Tsetpass as a real Win32 window: shown by the toolbar
// button and placed on the foreground monitor, edited through its windows,
// closed by the close box, the system menu or OK, refused when a settings
// file cannot be written, and translated by a language file.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "platform/platform.h"
#include "settings/setpassform.h"
#include "settings/translations.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"
#include "tests/windows/support/windows_support.h"

namespace {

using setpassform::Tsetpass;
using wintest::MessageBoxes;
using wintest::pressKey;
using wintest::pumpMessages;
using wintest::pumpUntil;
using wintest::textOf;

HWND hwndOf(const forms::TControl& control) { return reinterpret_cast<HWND>(control.handle()); }
HWND hwndOf(const forms::TForm& form) { return reinterpret_cast<HWND>(form.handle()); }

bool checkedOnScreen(const forms::TRadioButton& radio) {
    return SendMessageW(hwndOf(radio), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void showAndSettle(Tsetpass& dialog) {
    dialog.show();
    pumpUntil([&] { return GetForegroundWindow() == hwndOf(dialog) && GetFocus() != nullptr; }, 3000);
    pumpMessages(50);
}

// A click on the flat button, as the mouse gives it.
void clickSpeedButton(const forms::TSpeedButton& button) {
    SendMessageW(hwndOf(button), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    SendMessageW(hwndOf(button), WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

std::string readAll(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

class SetpassDialog : public ::testing::Test {
protected:
    void SetUp() override {
        // An ASCII folder: narrowing cannot change its name in any code page.
        const std::wstring path = folder.path();
        setpassform::settingsFolder = platform::narrow(std::u16string(path.begin(), path.end())) + "\\";
        setpassform::encryptionSwitch = false;
        setpassform::setpass = nullptr;
        setpassform::resetTranslations();
    }
    void TearDown() override {
        setpassform::setpass = nullptr;
        setpassform::settingsFolder.clear();
        setpassform::encryptionSwitch = false;
        setpassform::resetTranslations();
    }
    std::string ini() const { return readAll(folder.file(L"Mistlock.ini")); }
    std::string who() const { return readAll(folder.file(L"MistlockWho.ini")); }

    wintest::ScratchFolder folder{L"mistlock-dialog"};
};

// ---- Shown by the toolbar button ----------------------------------------------------

TEST_F(SetpassDialog, FirstShowingWithoutFilesThroughTheToolbarButton) {
    const std::wstring path = folder.path();
    test_messenger::TestMessenger plugin;
    ASSERT_NE(plugin.initialise(platform::narrow(std::u16string(path.begin(), path.end()))), nullptr);
    Tsetpass* dialog = setpassform::setpass;
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsWindowVisible(hwndOf(*dialog))) << "created hidden";

    // Whatever has the foreground, its monitor is the one to centre on.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(GetForegroundWindow(), MONITOR_DEFAULTTONEAREST), &monitor);
    plugin.button(1);
    pumpMessages(100);

    const HWND hwnd = hwndOf(*dialog);
    ASSERT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(textOf(hwnd), u"Настройки шифрования") << "the FormTitle text";
    RECT client, outer;
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &outer);
    EXPECT_EQ(client.right, 375);
    EXPECT_EQ(client.bottom, 232);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int monitorWidth = monitor.rcMonitor.right - monitor.rcMonitor.left;
    const int monitorHeight = monitor.rcMonitor.bottom - monitor.rcMonitor.top;
    EXPECT_EQ(outer.left, monitor.rcMonitor.left + monitorWidth / 2 - width / 2);
    EXPECT_EQ(outer.top, monitor.rcMonitor.top + monitorHeight / 2 - height / 2);
    if (monitorWidth == 1280 && monitorHeight == 1024 && width == 381 && height == 257) {
        // The virtual display of the test run, and Wine's dialog frame:
        // 640 - 190 and 512 - 128, each half truncated before subtracting.
        EXPECT_EQ(outer.left, 450);
        EXPECT_EQ(outer.top, 384);
    }

    // Empty boxes and list, the password chosen, as the windows show them.
    EXPECT_EQ(textOf(hwndOf(dialog->Edit1)), u"");
    EXPECT_EQ(textOf(hwndOf(dialog->Edit2)), u"");
    EXPECT_EQ(textOf(hwndOf(dialog->Memo1)), u"");
    EXPECT_TRUE(checkedOnScreen(dialog->pass_check));
    EXPECT_FALSE(checkedOnScreen(dialog->file_check));
    EXPECT_EQ(textOf(hwndOf(dialog->pass_check)), u"Введённый пароль");
    // The settings action made the empty UIN list file before showing.
    EXPECT_EQ(who(), "");
    EXPECT_EQ(ini(), "(missing)");
    EXPECT_TRUE(plugin.boxes.boxes().empty());
}

TEST_F(SetpassDialog, ShowingAgainMovesTheVisibleDialogToTheFront) {
    const std::wstring path = folder.path();
    test_messenger::TestMessenger plugin;
    plugin.initialise(platform::narrow(std::u16string(path.begin(), path.end())));
    plugin.button(1);
    const HWND hwnd = hwndOf(*setpassform::setpass);
    // The user drags it away and another window comes in front.
    SetWindowPos(hwnd, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 900, 900,
                                       nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    pumpUntil([&] { return GetForegroundWindow() == other; }, 2000);
    plugin.button(1);
    pumpUntil([&] { return GetForegroundWindow() == hwnd; }, 2000);
    EXPECT_EQ(GetForegroundWindow(), hwnd);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(other, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT outer;
    GetWindowRect(hwnd, &outer);
    EXPECT_EQ(outer.left, monitor.rcMonitor.left + (monitor.rcMonitor.right - monitor.rcMonitor.left) / 2 -
                              (outer.right - outer.left) / 2);
    DestroyWindow(other);
}

// ---- Closing saves ---------------------------------------------------------------------

TEST_F(SetpassDialog, EveryWayOfClosingSavesExactlyAsTheOkButton) {
    Tsetpass dialog;
    setpassform::setpass = &dialog;
    struct Way {
        const char* name;
        void (*close)(Tsetpass&);
    } const ways[] = {
        {"OK button", [](Tsetpass& d) { SendMessageW(hwndOf(d.SaveBtn), BM_CLICK, 0, 0); }},
        {"close box", [](Tsetpass& d) { SendMessageW(hwndOf(d), WM_CLOSE, 0, 0); }},
        {"system menu", [](Tsetpass& d) { SendMessageW(hwndOf(d), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    std::string savedIni, savedWho;
    for (const Way& way : ways) {
        DeleteFileW(folder.file(L"Mistlock.ini").c_str());
        DeleteFileW(folder.file(L"MistlockWho.ini").c_str());
        showAndSettle(dialog);
        // Edited through the windows, as the user does.
        SetFocus(hwndOf(dialog.Edit1));
        SendMessageW(hwndOf(dialog.Edit1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        wintest::typeText(u"pw 1");
        SendMessageW(hwndOf(dialog.Edit2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\keys\\key.txt"));
        SendMessageW(hwndOf(dialog.Memo1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"111\r\n222"));
        SendMessageW(hwndOf(dialog.file_check), BM_CLICK, 0, 0);
        way.close(dialog);
        pumpMessages(20);
        EXPECT_FALSE(dialog.visible()) << way.name;
        if (savedIni.empty()) {
            savedIni = ini();
            savedWho = who();
            EXPECT_EQ(savedIni, "off\r\nfile_check\r\npw 1\r\nC:\\keys\\key.txt\r\n");
            EXPECT_EQ(savedWho, "111\r\n222");
        } else {
            EXPECT_EQ(ini(), savedIni) << way.name;
            EXPECT_EQ(who(), savedWho) << way.name;
        }
    }
}

TEST_F(SetpassDialog, AnUnwritableSettingsFileKeepsTheDialogOpenUntilMended) {
    folder.write(L"Mistlock.ini", "off\r\npass_check\r\nold\r\n\r\n");
    Tsetpass dialog;
    setpassform::setpass = &dialog;
    ASSERT_EQ(dialog.Edit1.text(), u"old");
    showAndSettle(dialog);
    dialog.Edit1.setText(u"new");
    folder.setReadOnly(L"Mistlock.ini", true);

    MessageBoxes boxes;
    boxes.whileShown = [&] { return IsWindowVisible(hwndOf(dialog)) ? "dialog visible" : "dialog hidden"; };
    SendMessageW(hwndOf(dialog), WM_CLOSE, 0, 0);
    ASSERT_EQ(boxes.seen.size(), 1u);
    const std::u16string& message = boxes.seen[0].text;
    EXPECT_NE(message.find(u"Mistlock.ini"), std::u16string::npos) << wintest::show(message);
    EXPECT_TRUE(boxes.seen[0].icon);
    EXPECT_EQ(boxes.seen[0].note, "dialog visible");
    EXPECT_TRUE(dialog.visible()) << "the close was abandoned";
    EXPECT_EQ(ini(), "off\r\npass_check\r\nold\r\n\r\n");
    EXPECT_FALSE(folder.exists(L"MistlockWho.ini")) << "the list file is not written after the first failed";

    // The user mends the cause and closes again.
    folder.setReadOnly(L"Mistlock.ini", false);
    SendMessageW(hwndOf(dialog), WM_CLOSE, 0, 0);
    EXPECT_FALSE(dialog.visible());
    EXPECT_EQ(ini(), "off\r\npass_check\r\nnew\r\n\r\n");
    EXPECT_TRUE(folder.exists(L"MistlockWho.ini"));
    EXPECT_EQ(boxes.seen.size(), 1u);
}

TEST_F(SetpassDialog, DestroyingWritesNothing) {
    {
        Tsetpass dialog;
        setpassform::setpass = &dialog;
        showAndSettle(dialog);
        wintest::typeText(u"unsaved");
        SendMessageW(hwndOf(dialog.file_check), BM_CLICK, 0, 0);
        setpassform::setpass = nullptr;
    }
    EXPECT_TRUE(folder.entries().empty());
}

// ---- Editing through the windows ------------------------------------------------------

TEST_F(SetpassDialog, WhatIsTypedIsWhatTheControlsHold) {
    Tsetpass dialog;
    showAndSettle(dialog);
    ASSERT_EQ(GetFocus(), hwndOf(dialog.Edit1));
    wintest::typeText(u"Пароль 2");
    EXPECT_EQ(dialog.Edit1.text(), u"Пароль 2");
    pressKey(VK_TAB);
    wintest::typeText(u"D:\\key.txt");
    EXPECT_EQ(dialog.Edit2.text(), u"D:\\key.txt");
    pressKey(VK_TAB);
    wintest::typeText(u"123");
    pressKey(VK_RETURN);
    wintest::typeText(u"456");
    EXPECT_EQ(dialog.Memo1.lines(), (std::vector<std::u16string>{u"123", u"456"}));
    pressKey(VK_TAB);
    pressKey(VK_DOWN);
    EXPECT_TRUE(dialog.file_check.checked());
    EXPECT_FALSE(dialog.pass_check.checked());
}

TEST_F(SetpassDialog, TabCyclesThroughTheDialogInItsTabOrder) {
    Tsetpass dialog;
    showAndSettle(dialog);
    ASSERT_EQ(GetFocus(), hwndOf(dialog.Edit1));
    const HWND cycle[] = {hwndOf(dialog.Edit2), hwndOf(dialog.Memo1), hwndOf(dialog.pass_check),
                          hwndOf(dialog.SaveBtn), hwndOf(dialog.Edit1)};
    for (HWND expected : cycle) {
        pressKey(VK_TAB);
        EXPECT_EQ(GetFocus(), expected);
    }
    pressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), hwndOf(dialog.SaveBtn));
}

TEST_F(SetpassDialog, ChosenFileReplacesTypedTextAndCancelKeepsIt) {
    folder.write(L"chosen.key", "secret\r\n");
    Tsetpass dialog;
    showAndSettle(dialog);
    dialog.Edit2.setText(u"typed by hand");
    {
        wintest::ChooserScript confirm(hwndOf(dialog), folder.file(L"chosen.key"));
        clickSpeedButton(dialog.OpenKeyFile);
        EXPECT_TRUE(confirm.answered);
    }
    EXPECT_EQ(textOf(hwndOf(dialog.Edit2)), folder.file16(L"chosen.key"));

    SendMessageW(hwndOf(dialog.Edit2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed again"));
    {
        wintest::ChooserScript cancel(hwndOf(dialog), std::nullopt);
        clickSpeedButton(dialog.OpenKeyFile);
        EXPECT_TRUE(cancel.answered);
    }
    EXPECT_EQ(dialog.Edit2.text(), u"typed again");
}

// ---- Texts --------------------------------------------------------------------------------

TEST_F(SetpassDialog, LanguageFileCaptionsAppearOnTheControls) {
    folder.write(L"Mistlock.lng", readAll(wintest::windowsPath(MISTLOCK_TEST_DATA "/../../lang/English/Mistlock.lng")));
    Tsetpass dialog;
    struct Caption {
        const forms::TControl& control;
        const char16_t* text;
    } const captions[] = {
        {dialog.Label1, u"Password:"},
        {dialog.Label3, u"Key file:"},
        {dialog.Label2, u"Encrypt messages to these UINs:"},
        {dialog.Label4, u"Use:"},
        {dialog.pass_check, u"The password"},
        {dialog.file_check, u"The key file"},
        {dialog.SaveBtn, u"\u041E\u041A"},  // not translatable
    };
    for (const Caption& c : captions) {
        EXPECT_EQ(textOf(hwndOf(c.control)), c.text) << c.control.layoutEntry().name;
    }
    EXPECT_EQ(dialog.OpenKeyFile.hint(), u"Choose a file...");
    // A label takes the width of its caption.
    RECT label;
    GetWindowRect(hwndOf(dialog.Label4), &label);
    EXPECT_LT(label.right - label.left, 76) << "\"Use:\" is narrower than the built-in text";

    EXPECT_EQ(textOf(hwndOf(dialog)), u"Настройки шифрования") << "the title comes with showing";
    showAndSettle(dialog);
    EXPECT_EQ(textOf(hwndOf(dialog)), u"Encryption settings");
}

TEST_F(SetpassDialog, ALoadErrorIsReportedAndTheDialogIsCreatedAllTheSame) {
    folder.write(L"Mistlock.ini", "on\r\n");  // fewer than four lines
    MessageBoxes boxes;
    Tsetpass dialog;
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_NE(boxes.seen[0].text.find(u"Mistlock.ini"), std::u16string::npos) << wintest::show(boxes.seen[0].text);
    EXPECT_TRUE(boxes.seen[0].icon);
    EXPECT_TRUE(IsWindow(hwndOf(dialog)));
    EXPECT_FALSE(dialog.visible());
    showAndSettle(dialog);
    EXPECT_TRUE(dialog.visible());
}

}  // namespace
