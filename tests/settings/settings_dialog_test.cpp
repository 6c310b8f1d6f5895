// The settings dialog's handlers: what creation loads, what showing and
// closing do, the chooser, and how failures inside handlers are reported.
#include <optional>
#include <string>
#include <vector>

#include "settings/setpassform.h"
#include "settings/translations.h"
#include "tests/settings/settings_fixture.h"

namespace settings_test {
namespace {

using setpassform::Text;
using setpassform::Tsetpass;

constexpr const char* ini = "Mistlock.ini";
constexpr const char* who = "MistlockWho.ini";

class SettingsDialog : public SettingsFolderTest {};

TEST_F(SettingsDialog, FirstCreationWithoutFilesShowsBuiltInTextsAndEmptySettings) {
    Tsetpass dialog;
    EXPECT_EQ(dialog.Label1.caption(), u"Пароль:");
    EXPECT_EQ(dialog.Label3.caption(), u"Файл с ключом:");
    EXPECT_EQ(dialog.Label2.caption(), u"Шифровать при отправке на эти уины:");
    EXPECT_EQ(dialog.Label4.caption(), u"Использовать:");
    EXPECT_EQ(dialog.pass_check.caption(), u"Введённый пароль");
    EXPECT_EQ(dialog.file_check.caption(), u"Файл с ключом");
    EXPECT_EQ(dialog.OpenKeyFile.hint(), u"Указать файл...");
    EXPECT_TRUE(dialog.pass_check.checked());
    EXPECT_FALSE(dialog.file_check.checked());
    EXPECT_EQ(dialog.Edit1.text(), u"");
    EXPECT_EQ(dialog.Edit2.text(), u"");
    EXPECT_EQ(dialog.Memo1.text(), u"");
    EXPECT_FALSE(dialog.visible());
    dialog.show();
    EXPECT_EQ(dialog.caption(), u"Настройки шифрования");
    expectErrorBoxes(0);
}

TEST_F(SettingsDialog, TranslatedTitleIsSetWhenShown) {
    put("Mistlock.lng", "[Translation]\r\nFormTitle=Encryption settings\r\n");
    Tsetpass dialog;
    EXPECT_EQ(dialog.caption(), u"Настройки шифрования") << "the title belongs to showing, not creation";
    dialog.show();
    EXPECT_EQ(dialog.caption(), u"Encryption settings");
}

TEST_F(SettingsDialog, CreationLoadsIntoTheNewDialogNotTheModuleReference) {
    Tsetpass other;
    setpassform::setpass = &other;
    put(who, "555");
    put(ini, "on\r\nfile_check\r\npw\r\npath\r\n");
    Tsetpass dialog;
    EXPECT_EQ(dialog.Memo1.text(), u"555");
    EXPECT_TRUE(dialog.file_check.checked());
    EXPECT_EQ(dialog.Edit1.text(), u"pw");
    EXPECT_EQ(other.Memo1.text(), u"");
    EXPECT_TRUE(other.pass_check.checked());
    EXPECT_EQ(other.Edit1.text(), u"");
}

TEST_F(SettingsDialog, OkClosesAndSavesThroughTheModuleReference) {
    Tsetpass dialog;
    setpassform::setpass = &dialog;
    dialog.show();
    dialog.Edit1.setText(u"typed");
    dialog.file_check.setChecked(true);
    dialog.SaveBtn.click();
    EXPECT_FALSE(dialog.visible());
    EXPECT_EQ(bytesOf(ini), "off\r\nfile_check\r\ntyped\r\n\r\n");
    EXPECT_EQ(bytesOf(who), "");
    expectErrorBoxes(0);
}

TEST_F(SettingsDialog, OkClosesTheReferencedDialog) {
    Tsetpass referenced;
    Tsetpass pressed;
    setpassform::setpass = &referenced;
    referenced.Edit1.setText(u"long enough");
    referenced.show();
    pressed.show();
    pressed.SaveBtn.click();
    EXPECT_FALSE(referenced.visible());
    EXPECT_TRUE(pressed.visible());
}

TEST_F(SettingsDialog, OkWithoutModuleReferenceClosesItself) {
    Tsetpass dialog;
    dialog.Edit1.setText(u"long enough");
    dialog.show();
    dialog.SaveBtn.click();
    EXPECT_FALSE(dialog.visible());
    EXPECT_TRUE(exists(ini));
}

TEST_F(SettingsDialog, CloseBoxSavesExactlyAsOk) {
    auto fill = [](Tsetpass& d) {
        setpassform::encryptionSwitch = true;
        d.Edit1.setText(u"pw of nine");
        d.Edit2.setText(u"C:\\k.txt");
        d.Memo1.setText(u"1\r\n2");
        d.show();
    };
    Tsetpass dialog;
    setpassform::setpass = &dialog;
    fill(dialog);
    dialog.SaveBtn.click();
    const std::string iniByOk = bytesOf(ini), whoByOk = bytesOf(who);
    fs::remove(file(ini));
    fs::remove(file(who));
    fill(dialog);
    dialog.close();
    EXPECT_FALSE(dialog.visible());
    EXPECT_EQ(bytesOf(ini), iniByOk);
    EXPECT_EQ(bytesOf(who), whoByOk);
    EXPECT_EQ(iniByOk, "on\r\npass_check\r\npw of nine\r\nC:\\k.txt\r\n");
}

TEST_F(SettingsDialog, FailedSaveKeepsTheDialogOpenUntilTheCauseIsMended) {
    SKIP_WITHOUT_HEADLESS_UI();
    Tsetpass dialog;
    setpassform::setpass = &dialog;
    dialog.show();
    dialog.Edit1.setText(u"pw of nine");
    fs::create_directory(file(ini));  // the settings file cannot be written
    dialog.SaveBtn.click();
    EXPECT_TRUE(dialog.visible());
    ASSERT_EQ(errorBoxes(), 1);
    EXPECT_NE(show(boxes[0].text).find("Mistlock.ini"), std::string::npos) << show(boxes[0].text);
    EXPECT_FALSE(exists(who)) << "the list was written although the settings file failed";

    fs::remove(file(ini));
    dialog.close();
    EXPECT_FALSE(dialog.visible());
    EXPECT_EQ(bytesOf(ini), "off\r\npass_check\r\npw of nine\r\n\r\n");
    EXPECT_EQ(errorBoxes(), 1);
}

// OK warns about a password of fewer than 8 characters and leaves the dialog
// open; pressed again it keeps the password. Once a dialog.
TEST_F(SettingsDialog, OkWarnsOnceAboutAShortPassword) {
    SKIP_WITHOUT_HEADLESS_UI();
    const struct { std::u16string password; bool keyFile, warned; } cases[] = {
        {u"", false, true}, {u"Пароль!", false, true}, {u"12345678", false, false}, {u"pw", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(show(c.password));
        boxes.clear();
        Tsetpass dialog;
        dialog.Edit1.setText(c.password);
        dialog.file_check.setChecked(c.keyFile);
        for (int press = 0; press < 3; ++press) {
            dialog.show();
            dialog.SaveBtn.click();
            EXPECT_EQ(dialog.visible(), c.warned && press == 0) << "press " << press;
        }
        ASSERT_EQ(boxes.size(), c.warned ? 1u : 0u);
        EXPECT_TRUE(!c.warned || boxes[0].text.rfind(u"Пароль короче 8 символов", 0) == 0) << show(boxes[0].text);
    }
}

TEST_F(SettingsDialog, ErrorDuringCreationIsShownAndCreationCompletes) {
    SKIP_WITHOUT_HEADLESS_UI();
    put("Mistlock.lng", "[Translation]\r\nPass=Password:\r\n");
    put(who, "42");
    put(ini, "on\r\n");
    auto dialog = std::make_unique<Tsetpass>();
    EXPECT_EQ(errorBoxes(), 1);
    EXPECT_EQ(dialog->Label1.caption(), u"Password:");
    EXPECT_EQ(dialog->Memo1.text(), u"42");
    EXPECT_TRUE(setpassform::encryptionSwitch);
    // The dialog works on: it can be shown and closed, which saves.
    dialog->show();
    dialog->close();
    EXPECT_FALSE(dialog->visible());
    EXPECT_EQ(bytesOf(ini), "on\r\npass_check\r\n\r\n\r\n");
    EXPECT_EQ(errorBoxes(), 1);
}

TEST_F(SettingsDialog, ChooserReplacesTheKeyFileOnlyWhenConfirmed) {
#ifdef _WIN32
    GTEST_SKIP() << "the chooser needs a user here";
#else
    Tsetpass dialog;
    dialog.Edit2.setText(u"typed by hand");
    platform::headless::setOpenDialogAnswer(std::nullopt);
    dialog.OpenKeyFile.click();
    EXPECT_EQ(dialog.Edit2.text(), u"typed by hand");
    platform::headless::setOpenDialogAnswer(u"C:\\Keys\\ключ.bin");
    dialog.OpenKeyFile.click();
    EXPECT_EQ(dialog.Edit2.text(), u"C:\\Keys\\ключ.bin");
    EXPECT_FALSE(exists(ini)) << "choosing a file does not save";
#endif
}

TEST_F(SettingsDialog, DestroyedDialogIsNoLongerReferenced) {
    auto dialog = std::make_unique<Tsetpass>();
    setpassform::setpass = dialog.get();
    dialog.reset();
    EXPECT_EQ(setpassform::setpass, nullptr);
}

// The UIN check reads the memo line by line; the settings file's NUL rule is
// the file reader's, not the memo's.
TEST_F(SettingsDialog, TheUinListsLinesEndAtEveryBreakAndNotAtANul) {
    using Lines = std::vector<std::u16string>;
    Tsetpass dialog;
    dialog.Memo1.setText(u"111\r\n222\r\n");
    EXPECT_EQ(dialog.Memo1.lines(), (Lines{u"111", u"222"}));
    dialog.Memo1.setText(u"");
    EXPECT_EQ(dialog.Memo1.lines(), Lines{});
#if !defined(_WIN32)
    // The headless memo holds its text as given (an edit control would end
    // it at a NUL and may rewrite lone breaks).
    dialog.Memo1.setText(u"111\r222\n333\n\r444\r\n");
    EXPECT_EQ(dialog.Memo1.lines(), (Lines{u"111", u"222", u"333", u"", u"444"}));
    dialog.Memo1.setText(std::u16string(u"111\0" u"222\r\n333", 12));
    EXPECT_EQ(dialog.Memo1.lines(), (Lines{std::u16string(u"111\0" u"222", 7), u"333"}));
#endif
}

TEST_F(SettingsDialog, SettingsPathJoinsFolderAndName) {
    setpassform::settingsFolder = "C:\\Data\\Chat\\";
    EXPECT_EQ(setpassform::settingsPath("Mistlock.ini"), u"C:\\Data\\Chat\\Mistlock.ini");
    if (platform::ansiCodePage() == 1251) {
        setpassform::settingsFolder = "C:\\\xC4\xE0\xED\xED\xFB\\";  // "Данны" in 1251
        EXPECT_EQ(setpassform::settingsPath("x"), u"C:\\Данны\\x");
    }
}

}  // namespace
}  // namespace settings_test
