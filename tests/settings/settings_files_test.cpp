// The settings file "Mistlock.ini" and the UIN list file "MistlockWho.ini":
// the bytes a save writes, what a load makes of a file, and what a failing
// save leaves behind.
#include <cstdlib>
#include <functional>
#include <memory>

#include "platform/exception.h"
#include "settings/setpassform.h"
#include "tests/settings/settings_fixture.h"

namespace settings_test {
namespace {

using namespace std::string_literals;
using setpassform::Tsetpass;

constexpr const char* ini = "Mistlock.ini";
constexpr const char* who = "MistlockWho.ini";

std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}
std::string utf16le(std::u16string_view text) { return "\xFF\xFE"s + utf16(text, false); }
std::string utf16be(std::u16string_view text) { return "\xFE\xFF"s + utf16(text, true); }

class SettingsFiles : public SettingsFolderTest {};

// ---- Saving --------------------------------------------------------------

TEST_F(SettingsFiles, SaveWritesBothFilesExactly) {
    struct Case {
        const char* name;
        bool switchOn;
        bool usePassword;
        std::u16string password, keyFile, uins;
        std::string iniBytes, whoBytes;
    };
    const Case cases[] = {
        {"defaults", false, true, u"", u"", u"", "off\r\npass_check\r\n\r\n\r\n", ""},
        {"everything set", true, false, u"secret pw", u"C:\\keys\\my key.txt", u"123\r\n456",
         "on\r\nfile_check\r\nsecret pw\r\nC:\\keys\\my key.txt\r\n", "123\r\n456"},
        {"blanks kept", false, false, u"  pw  ", u" path ", u" 5 \r\n",
         "off\r\nfile_check\r\n  pw  \r\n path \r\n", " 5 \r\n"},
        {"list with empty lines and a final break", true, true, u"p", u"k", u"\r\n111\r\n\r\n222\r\n",
         "on\r\npass_check\r\np\r\nk\r\n", "\r\n111\r\n\r\n222\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tsetpass dialog;
        setpassform::encryptionSwitch = c.switchOn;
        (c.usePassword ? dialog.pass_check : dialog.file_check).setChecked(true);
        dialog.Edit1.setText(c.password);
        dialog.Edit2.setText(c.keyFile);
        dialog.Memo1.setText(c.uins);
        setpassform::SaveSettings(dialog);
        EXPECT_EQ(bytesOf(ini), c.iniBytes);
        EXPECT_EQ(bytesOf(who), c.whoBytes);
        EXPECT_EQ(folderEntries(), (std::vector<std::string>{ini, who}));
    }
    expectErrorBoxes(0);
}

TEST_F(SettingsFiles, DefaultSaveIsTwentyOneBytes) {
    Tsetpass dialog;
    setpassform::SaveSettings(dialog);
    const std::string bytes = bytesOf(ini);
    EXPECT_EQ(bytes.size(), 21u);
    EXPECT_EQ(bytes, "off\r\npass_check\r\n\r\n\r\n");
    EXPECT_TRUE(exists(who));
    EXPECT_EQ(bytesOf(who).size(), 0u);
}

TEST_F(SettingsFiles, EverySettingComesBackAfterSaveAndReload) {
    struct Case {
        bool switchOn;
        bool usePassword;
        std::u16string password, keyFile, uins;
    };
    const Case cases[] = {
        {true, true, u"correct horse", u"", u"100200300"},
        {false, false, u"", u"D:\\Keys\\key file.bin", u"1\r\n2\r\n3\r\n"},
        {true, false, u"p=w;[x]", u"\\\\server\\share\\k", u"\r\n\r\n"},
        {false, true, u"", u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(show(c.password) + " | " + show(c.keyFile));
        {
            Tsetpass first;
            setpassform::encryptionSwitch = c.switchOn;
            (c.usePassword ? first.pass_check : first.file_check).setChecked(true);
            first.Edit1.setText(c.password);
            first.Edit2.setText(c.keyFile);
            first.Memo1.setText(c.uins);
            setpassform::SaveSettings(first);
        }
        setpassform::encryptionSwitch = !c.switchOn;
        Tsetpass second;
        EXPECT_EQ(setpassform::encryptionSwitch, c.switchOn);
        EXPECT_EQ(second.pass_check.checked(), c.usePassword);
        EXPECT_EQ(second.file_check.checked(), !c.usePassword);
        EXPECT_EQ(second.Edit1.text(), c.password);
        EXPECT_EQ(second.Edit2.text(), c.keyFile);
        EXPECT_EQ(second.Memo1.text(), c.uins);
    }
    expectErrorBoxes(0);
}

// ---- Loading "Mistlock.ini" -----------------------------------------------

TEST_F(SettingsFiles, SettingsFileLinesAreAppliedInOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        bool switchOn;  // the switch is on before each load
        bool usePassword;
        std::u16string password, keyFile;
        int errors;
    };
    const Case cases[] = {
        {"on exactly", "on\r\npass_check\r\npw\r\npath\r\n", true, true, u"pw", u"path", 0},
        {"On with a capital", "On\r\npass_check\r\npw\r\npath\r\n", false, true, u"pw", u"path", 0},
        {"on and a blank", "on \r\npass_check\r\npw\r\npath\r\n", false, true, u"pw", u"path", 0},
        {"blank and on", " on\r\npass_check\r\npw\r\npath\r\n", false, true, u"pw", u"path", 0},
        {"off", "off\r\npass_check\r\npw\r\npath\r\n", false, true, u"pw", u"path", 0},
        {"file_check", "on\r\nfile_check\r\npw\r\npath\r\n", true, false, u"pw", u"path", 0},
        {"Pass_check", "on\r\nPass_check\r\npw\r\npath\r\n", true, false, u"pw", u"path", 0},
        {"pass_check and a blank", "on\r\npass_check \r\npw\r\npath\r\n", true, false, u"pw", u"path", 0},
        {"empty key source", "on\r\n\r\npw\r\npath\r\n", true, false, u"pw", u"path", 0},
        {"LF only, last line open", "on\nfile_check\npw\npath", true, false, u"pw", u"path", 0},
        {"lone CR", "on\rfile_check\rpw\rpath\r", true, false, u"pw", u"path", 0},
        {"mixed breaks", "on\r\nfile_check\npw\rpath", true, false, u"pw", u"path", 0},
        {"empty password", "off\r\nfile_check\r\n\r\nC:\\k\r\n", false, false, u"", u"C:\\k", 0},
        {"lines after the fourth", "off\r\npass_check\r\na\r\nb\r\nextra\r\nmore\r\n", false, true, u"a", u"b", 0},
        {"blanks kept", "on\r\npass_check\r\n pw \r\n\tpath\r\n", true, true, u" pw ", u"\tpath", 0},
        // A NUL that cuts the text short applies what comes before it, and is
        // reported: the rest of the file would be lost on the next save.
        {"NUL inside line 4", "on\r\npass_check\r\npw\r\npa\0th\r\n"s, true, true, u"pw", u"pa", 1},
        {"NUL at the very end", "on\r\npass_check\r\npw\r\npath\r\n\0\0"s, true, true, u"pw", u"path", 0},
        {"NUL in line 2 ends the text", "on\r\nfile_check\0\r\npw\r\npath\r\n"s, true, false, u"", u"", 1},
        {"UTF-8 mark", "\xEF\xBB\xBFon\r\nfile_check\r\npw\r\npath\r\n", true, false, u"pw", u"path", 0},
        {"UTF-16LE mark", utf16le(u"on\r\nfile_check\r\npw\r\npath\r\n"), true, false, u"pw", u"path", 0},
        {"UTF-16BE mark", utf16be(u"on\nfile_check\npw\npath"), true, false, u"pw", u"path", 0},
        {"two lines", "on\r\nfile_check\r\n", true, false, u"", u"", 1},
        {"two lines, off", "off\r\nfile_check\r\n", false, false, u"", u"", 1},
        {"one line", "off", false, true, u"", u"", 1},
        {"three lines", "on\r\nfile_check\r\npw\r\n", true, false, u"pw", u"", 1},
        {"empty file keeps the switch", "", true, true, u"", u"", 1},
        {"mark only", "\xEF\xBB\xBF", true, true, u"", u"", 1},
        {"UTF-8 mark, invalid UTF-8", "\xEF\xBB\xBFon\r\nfile_check\r\n\xC3\x28\r\npath\r\n", true, true, u"", u"", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.errors > 0 && !boxesObservable()) continue;
        boxes.clear();
        put(ini, c.bytes);
        setpassform::encryptionSwitch = true;
        Tsetpass dialog;
        EXPECT_EQ(setpassform::encryptionSwitch, c.switchOn);
        EXPECT_EQ(dialog.pass_check.checked(), c.usePassword);
        EXPECT_EQ(dialog.file_check.checked(), !c.usePassword);
        EXPECT_EQ(dialog.Edit1.text(), c.password);
        EXPECT_EQ(dialog.Edit2.text(), c.keyFile);
        expectErrorBoxes(c.errors);
    }
}

TEST_F(SettingsFiles, ShortSettingsFileIsReportedNamingTheFile) {
    SKIP_WITHOUT_HEADLESS_UI();
    put(who, "111\r\n222");
    put(ini, "on\r\nfile_check\r\n");
    Tsetpass dialog;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].errorBox);
    const std::string message = show(boxes[0].text);
    EXPECT_NE(message.find("Mistlock.ini"), std::string::npos) << message;
    EXPECT_NE(message.find("fewer than four lines"), std::string::npos) << message;
    // What was read before the missing line stays.
    EXPECT_TRUE(setpassform::encryptionSwitch);
    EXPECT_TRUE(dialog.file_check.checked());
    EXPECT_EQ(dialog.Memo1.text(), u"111\r\n222");
    EXPECT_EQ(dialog.Edit1.text(), u"");
    EXPECT_EQ(dialog.Edit2.text(), u"");
}

TEST_F(SettingsFiles, NoFilesChangeNothing) {
    setpassform::encryptionSwitch = false;
    Tsetpass dialog;
    EXPECT_FALSE(setpassform::encryptionSwitch);
    EXPECT_TRUE(dialog.pass_check.checked());
    EXPECT_FALSE(dialog.file_check.checked());
    EXPECT_EQ(dialog.Edit1.text(), u"");
    EXPECT_EQ(dialog.Edit2.text(), u"");
    EXPECT_EQ(dialog.Memo1.text(), u"");
    EXPECT_TRUE(folderEntries().empty()) << "loading wrote a file";
    expectErrorBoxes(0);
}

// A folder in a file's place is not a fresh install: that file did not load.
TEST_F(SettingsFiles, FoldersNamedLikeTheFilesDoNotLoad) {
    SKIP_WITHOUT_HEADLESS_UI();
    fs::create_directory(file(who));
    put(ini, "on\r\nfile_check\r\npw\r\npath\r\n");
    Tsetpass dialog;
    EXPECT_EQ(dialog.Memo1.text(), u"");
    EXPECT_TRUE(setpassform::encryptionSwitch);
    EXPECT_EQ(dialog.Edit2.text(), u"path");
    ASSERT_EQ(errorBoxes(), 1);
    EXPECT_NE(show(boxes[0].text).find("MistlockWho.ini\" is not a file"), std::string::npos) << show(boxes[0].text);
    EXPECT_FALSE(setpassform::loaded(setpassform::SettingsFile::UinList));
    EXPECT_TRUE(setpassform::loaded(setpassform::SettingsFile::Settings));
}

TEST_F(SettingsFiles, UnreadableListStillLetsTheSettingsFileLoad) {
    SKIP_WITHOUT_HEADLESS_UI();
    put(who, "\xEF\xBB\xBF" "111\xFF\r\n");
    put(ini, "on\r\nfile_check\r\npw\r\npath\r\n");
    setpassform::encryptionSwitch = false;
    Tsetpass dialog;
    ASSERT_EQ(errorBoxes(), 1);
    EXPECT_NE(show(boxes[0].text).find("MistlockWho.ini"), std::string::npos) << show(boxes[0].text);
    EXPECT_EQ(dialog.Memo1.text(), u"");
    EXPECT_TRUE(setpassform::encryptionSwitch);
    EXPECT_TRUE(dialog.file_check.checked());
    EXPECT_EQ(dialog.Edit1.text(), u"pw");
    EXPECT_FALSE(setpassform::loaded(setpassform::SettingsFile::UinList));
    EXPECT_TRUE(setpassform::loaded(setpassform::SettingsFile::Settings));
}

// ---- The UIN list ----------------------------------------------------------

TEST_F(SettingsFiles, UinListIsReadAndWrittenBackInItsEncoding) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string memo;
        std::string saved;  // what the next save writes
    };
    const std::u16string bomList = u"12345678\r\n\r\n987654321 # друзья Ω\r\n42";
    const Case cases[] = {
        {"CR LF with a final break", "111\r\n222\r\n", u"111\r\n222\r\n", "111\r\n222\r\n"},
        {"CR LF without a final break", "111\r\n222", u"111\r\n222", "111\r\n222"},
        {"LF only", "111\n222\n", u"111\r\n222\r\n", "111\r\n222\r\n"},
        {"lone CR", "111\r222", u"111\r\n222", "111\r\n222"},
        {"mixed breaks", "1\n\r2\r\r\n3", u"1\r\n\r\n2\r\n\r\n3", "1\r\n\r\n2\r\n\r\n3"},
        {"empty lines and blanks stay", "\r\n\r\n 5 \r\n", u"\r\n\r\n 5 \r\n", "\r\n\r\n 5 \r\n"},
        {"empty file", "", u"", ""},
        {"UTF-8 mark", readBytes(dataPath("settings/uins_utf8_bom.txt")), bomList,
         readBytes(dataPath("settings/uins_utf8_bom.txt"))},
        {"UTF-16LE mark", readBytes(dataPath("settings/uins_utf16le_bom.txt")), bomList + u"\r\n",
         readBytes(dataPath("settings/uins_utf16le_bom.txt"))},
        {"UTF-16BE mark", readBytes(dataPath("settings/uins_utf16be_bom.txt")), bomList,
         readBytes(dataPath("settings/uins_utf16be_bom.txt"))},
        {"UTF-8 mark, LF only", "\xEF\xBB\xBF" "1\n2", u"1\r\n2", "\xEF\xBB\xBF" "1\r\n2"},
        {"UTF-16BE mark, lone CR", utf16be(u"1\r2\r"), u"1\r\n2\r\n", utf16be(u"1\r\n2\r\n")},
        {"UTF-16LE mark alone", "\xFF\xFE", u"", "\xFF\xFE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(who, c.bytes);
        // A settings file with a mark of its own: it is written back without.
        put(ini, utf16le(u"on\r\nfile_check\r\npw\r\npath\r\n"));
        setpassform::encryptionSwitch = false;
        Tsetpass dialog;
        EXPECT_EQ(dialog.Memo1.text(), c.memo) << show(dialog.Memo1.text());
        setpassform::SaveSettings(dialog);
        EXPECT_EQ(bytesOf(who), c.saved);
        EXPECT_EQ(bytesOf(ini), "on\r\nfile_check\r\npw\r\npath\r\n");
    }
    expectErrorBoxes(0);
}

TEST_F(SettingsFiles, EditedListKeepsTheEncodingItWasReadIn) {
    put(who, utf16be(u"1\r\n2"));
    Tsetpass dialog;
    dialog.Memo1.setText(u"3\r\nΩ");
    setpassform::SaveUinList(dialog);
    EXPECT_EQ(bytesOf(who), utf16be(u"3\r\nΩ"));
    EXPECT_FALSE(exists(ini)) << "the list alone was to be written";
}

TEST_F(SettingsFiles, ListNeverReadIsWrittenInAnsiWithoutMark) {
    {
        put(who, "\xEF\xBB\xBF" "1");
        Tsetpass earlier;  // reads a UTF-8 list
    }
    fs::remove(file(who));
    Tsetpass dialog;  // finds no list: its memo did not come from a file
    dialog.Memo1.setText(u"100\r\n200");
    setpassform::SaveUinList(dialog);
    EXPECT_EQ(bytesOf(who), "100\r\n200");
}

TEST_F(SettingsFiles, SaveUinListWritesAnEmptyMemoAsAnEmptyFile) {
    Tsetpass dialog;
    setpassform::SaveUinList(dialog);
    ASSERT_TRUE(exists(who));
    EXPECT_EQ(bytesOf(who), "");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{who});
}

// ---- Failing saves ---------------------------------------------------------

// A file the process cannot write although it is marked read-only (the
// super-user on POSIX) cannot show a refused write.
bool readOnlyIsEnforced(const fs::path& path) {
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    return !probe.is_open();
}

void makeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    ADD_FAILURE() << "no error was raised";
    return {};
}

TEST_F(SettingsFiles, SaveIntoMissingFolderFailsNamingTheFile) {
    Tsetpass dialog;
    dialog.Edit1.setText(u"pw");
    setpassform::settingsFolder = platform::narrow((folder / "missing").u16string()) + "\\";
    const std::string message = messageOf([&] { setpassform::SaveSettings(dialog); });
    EXPECT_NE(message.find("missing"), std::string::npos) << message;
    EXPECT_NE(message.find("Mistlock.ini"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_TRUE(folderEntries().empty());
}

TEST_F(SettingsFiles, ReadOnlySettingsFileStaysWholeAndListIsUntouched) {
    const std::string oldIni = "on\r\nfile_check\r\nold password\r\nold path\r\n";
    const std::string oldWho = "111\r\n222";
    put(ini, oldIni);
    put(who, oldWho);
    Tsetpass dialog;
    dialog.Edit1.setText(u"new password");
    dialog.Memo1.setText(u"333");
    makeReadOnly(file(ini));
    if (!readOnlyIsEnforced(file(ini))) {
        // The unprivileged run is there for this case: it must not pass by skipping.
        if (std::getenv("MISTLOCK_EXPECT_READ_ONLY")) FAIL() << "read-only files are writable in this run";
        GTEST_SKIP() << "this process may write read-only files";
    }

    std::string message;
    try {
        setpassform::SaveSettings(dialog);
        ADD_FAILURE() << "the save reported success";
    } catch (const EFileError& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("Mistlock.ini"), std::string::npos) << message;
    EXPECT_EQ(bytesOf(ini), oldIni);
    EXPECT_EQ(bytesOf(who), oldWho);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{ini, who})) << "a temporary file was left behind";
}

TEST_F(SettingsFiles, SettingsFileThatCannotBeReplacedStopsTheSave) {
    // A folder where the settings file should be: no process can write it.
    const std::string oldWho = "111\r\n222";
    put(who, oldWho);
    Tsetpass dialog;
    fs::create_directory(file(ini));
    dialog.Memo1.setText(u"333");
    const std::string message = messageOf([&] { setpassform::SaveSettings(dialog); });
    EXPECT_NE(message.find("Mistlock.ini"), std::string::npos) << message;
    EXPECT_TRUE(fs::is_directory(file(ini)));
    EXPECT_EQ(bytesOf(who), oldWho);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{ini, who})) << "a temporary file was left behind";
}

TEST_F(SettingsFiles, ListThatCannotBeReplacedIsReportedAfterTheSettingsFile) {
    Tsetpass dialog;
    dialog.Edit1.setText(u"pw");
    fs::create_directory(file(who));
    const std::string message = messageOf([&] { setpassform::SaveSettings(dialog); });
    EXPECT_NE(message.find("MistlockWho.ini"), std::string::npos) << message;
    EXPECT_EQ(bytesOf(ini), "off\r\npass_check\r\npw\r\n\r\n");
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{ini, who})) << "a temporary file was left behind";
}

}  // namespace
}  // namespace settings_test
