// Settings files whose meaning depends on the system ANSI code page. The
// program runs once under 1251 and once under 1252; every case states what it
// expects under each.
#include "settings/setpassform.h"
#include "tests/settings/settings_fixture.h"

namespace settings_test {
namespace {

using setpassform::Tsetpass;

constexpr const char* ini = "Mistlock.ini";
constexpr const char* who = "MistlockWho.ini";

bool cyrillic() { return platform::ansiCodePage() == 1251; }

class SettingsCodePages : public SettingsFolderTest {
protected:
    void SetUp() override {
        SettingsFolderTest::SetUp();
        const unsigned cp = platform::ansiCodePage();
        ASSERT_TRUE(cp == 1251 || cp == 1252) << "ANSI code page " << cp;
    }
};

TEST_F(SettingsCodePages, AnsiSettingsFileWithCyrillic) {
    // "пароль" and "C:\Ключи\key.txt" in 1251 bytes.
    const std::string bytes = readBytes(dataPath("settings/settings_cp1251.ini"));
    put(ini, bytes);
    setpassform::encryptionSwitch = false;
    Tsetpass dialog;
    EXPECT_TRUE(setpassform::encryptionSwitch);
    EXPECT_TRUE(dialog.pass_check.checked());
    EXPECT_EQ(dialog.Edit1.text(), cyrillic() ? u"пароль" : u"ïàðîëü");
    EXPECT_EQ(dialog.Edit2.text(), cyrillic() ? u"C:\\Ключи\\key.txt" : u"C:\\Êëþ÷è\\key.txt");
    // Every byte has a character in both code pages: the file comes back as it was.
    setpassform::SaveSettings(dialog);
    EXPECT_EQ(bytesOf(ini), bytes);
    expectErrorBoxes(0);
}

// Written back in the code page when it holds every character, else whole,
// as UTF-8 with a byte-order mark.
TEST_F(SettingsCodePages, MarkedSettingsFileIsWrittenBackWhole) {
    struct Case {
        const char* file;
        std::u16string password, keyFile;
        bool usePassword;
        std::string saved1251, saved1252;
    };
    const Case cases[] = {
        {"settings/settings_utf8_bom.ini", u"пароль", u"C:\\Ключи\\key.txt", false,
         "on\r\nfile_check\r\n\xEF\xE0\xF0\xEE\xEB\xFC\r\nC:\\\xCA\xEB\xFE\xF7\xE8\\key.txt\r\n",
         "\xEF\xBB\xBF" "on\r\nfile_check\r\n\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\r\n"
         "C:\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB8\\key.txt\r\n"},
        {"settings/settings_utf16le_bom.ini", u"secret 日", u"D:\\keys\\k.bin", true,
         "\xEF\xBB\xBF" "on\r\npass_check\r\nsecret \xE6\x97\xA5\r\nD:\\keys\\k.bin\r\n",
         "\xEF\xBB\xBF" "on\r\npass_check\r\nsecret \xE6\x97\xA5\r\nD:\\keys\\k.bin\r\n"},
        {"settings/settings_utf16be_bom.ini", u"secret", u"D:\\k", false, "on\r\nfile_check\r\nsecret\r\nD:\\k\r\n",
         "on\r\nfile_check\r\nsecret\r\nD:\\k\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        putData(ini, c.file);
        setpassform::encryptionSwitch = false;
        Tsetpass dialog;
        EXPECT_TRUE(setpassform::encryptionSwitch);
        EXPECT_EQ(dialog.pass_check.checked(), c.usePassword);
        EXPECT_EQ(dialog.Edit1.text(), c.password);
        EXPECT_EQ(dialog.Edit2.text(), c.keyFile);
        setpassform::SaveSettings(dialog);
        EXPECT_EQ(bytesOf(ini), cyrillic() ? c.saved1251 : c.saved1252);
    }
    expectErrorBoxes(0);
}

TEST_F(SettingsCodePages, TypedTextComesBackWholeWhateverTheCodePage) {
    {
        Tsetpass first;
        first.Edit1.setText(u"Пароль 日");
        first.Edit2.setText(u"C:\\密码\\k.txt");
        first.Memo1.setText(u"123 друг");
        setpassform::SaveSettings(first);
    }
    Tsetpass second;
    EXPECT_EQ(second.Edit1.text(), u"Пароль 日");
    EXPECT_EQ(second.Edit2.text(), u"C:\\密码\\k.txt");
    EXPECT_EQ(second.Memo1.text(), u"123 друг");
}

TEST_F(SettingsCodePages, AnsiListIsWrittenBackByteForByte) {
    const std::string bytes = readBytes(dataPath("settings/uins_cp1251.txt"));
    put(who, bytes);
    Tsetpass dialog;
    EXPECT_EQ(dialog.Memo1.text(), cyrillic() ? u"111\r\nдрузья\r\n222\r\n" : u"111\r\näðóçüÿ\r\n222\r\n");
    setpassform::SaveUinList(dialog);
    EXPECT_EQ(bytesOf(who), bytes);
}

TEST_F(SettingsCodePages, MarkedListKeepsWhatAnsiCannotHold) {
    const std::string bytes = readBytes(dataPath("settings/uins_utf16le_bom.txt"));
    put(who, bytes);
    Tsetpass dialog;
    setpassform::SaveSettings(dialog);
    EXPECT_EQ(bytesOf(who), bytes);
}

}  // namespace
}  // namespace settings_test
