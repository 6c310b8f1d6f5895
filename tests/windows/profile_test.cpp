// The profile reader over GetPrivateProfileStringW, run under both ANSI code
// pages: what the language file relies on, and the behaviour the headless
// reader copies (blanks, quotes, duplicates, comments).
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/windows/support/windows_support.h"

namespace {

using wintest::ScratchFolder;
using wintest::show;

std::string utf16leWithBom(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

class Profile : public ::testing::Test {
protected:
    ScratchFolder folder{L"mistlock-profile"};
    std::optional<std::u16string> read(const std::u16string& section, const std::u16string& key,
                                       const std::wstring& name = L"Mistlock.lng") const {
        return platform::readProfileString(folder.file16(name), section, key);
    }
};

TEST_F(Profile, AbsentFileSectionOrKeyGiveNothing) {
    EXPECT_EQ(read(u"Translation", u"Pass"), std::nullopt) << "no file";
    folder.write(L"Mistlock.lng", "[Other]\r\nPass=elsewhere\r\n[Translation]\r\nWarning=Attention\r\n");
    EXPECT_EQ(read(u"Translation", u"Pass"), std::nullopt) << "key only in another section";
    EXPECT_EQ(read(u"Missing", u"Warning"), std::nullopt) << "no such section";
    EXPECT_EQ(read(u"Translation", u"Warning"), u"Attention");
}

TEST_F(Profile, EmptyValueIsPresent) {
    folder.write(L"Mistlock.lng", "[Translation]\r\nPass=\r\n");
    EXPECT_EQ(read(u"Translation", u"Pass"), u"");
}

struct LineCase {
    const char* line;
    const char16_t* key;
    std::optional<std::u16string> value;
};

// One [Translation] section per case, the line below its header.
const LineCase lineCases[] = {
    {"Warning=Attention", u"WARNING", u"Attention"},       // key names in any case
    {"KEYNOTFOUND=Lost", u"KeyNotFound", u"Lost"},
    {"  Pass  =  spaced out  ", u"Pass", u"spaced out"},   // blanks around name and value
    {"Pass=\"quoted\"", u"Pass", u"quoted"},               // matching quotes come off
    {"Pass=a=b", u"Pass", u"a=b"},                         // the first '=' divides
    {"Pass=one\r\nPass=two", u"Pass", u"one"},              // the first of duplicates wins
    {";Pass=commented", u"Pass", std::nullopt},            // a comment line
    {"Pass", u"Pass", std::nullopt},                       // no '=': no value for that key
};

TEST_F(Profile, LinesAsTheSystemReadsThem) {
    for (const LineCase& c : lineCases) {
        folder.write(L"Mistlock.lng", std::string("[Translation]\r\n") + c.line + "\r\n");
        const auto value = read(u"Translation", c.key);
        EXPECT_EQ(value.has_value(), c.value.has_value()) << c.line;
        if (value && c.value) {
            EXPECT_EQ(*value, *c.value) << c.line << " gave " << show(*value);
        }
    }
}

TEST_F(Profile, SectionNamesMatchInAnyCase) {
    folder.write(L"Mistlock.lng", "[translation]\r\nFormTitle=Settings\r\n");
    EXPECT_EQ(read(u"Translation", u"FormTitle"), u"Settings");
    EXPECT_EQ(read(u"TRANSLATION", u"formtitle"), u"Settings");
}

TEST_F(Profile, LongValuesAreCutTo2047Characters) {
    const std::string value(3000, 'v');
    folder.write(L"Mistlock.lng", "[Translation]\r\nOriginalMsgError=" + value + "\r\n");
    const auto read2047 = read(u"Translation", u"OriginalMsgError");
    ASSERT_TRUE(read2047.has_value());
    EXPECT_EQ(read2047->size(), 2047u);
    EXPECT_EQ(*read2047, std::u16string(2047, u'v'));
    folder.write(L"Mistlock.lng", "[Translation]\r\nPass=" + std::string(2047, 'w') + "\r\n");
    EXPECT_EQ(read(u"Translation", u"Pass"), std::u16string(2047, u'w')) << "2047 fit whole";
}

TEST_F(Profile, Utf16WithByteOrderMarkIsReadAsUtf16) {
    folder.write(L"Mistlock.lng", utf16leWithBom(u"[Translation]\r\nPass=Пароль №1\r\nKey=鍵\r\n"));
    EXPECT_EQ(read(u"Translation", u"Pass"), u"Пароль №1");
    EXPECT_EQ(read(u"Translation", u"Key"), u"鍵");
}

TEST_F(Profile, AnsiFilesAreReadInTheSystemCodePage) {
    // "Пароль" in 1251 bytes; read through 1252 the same bytes are Latin letters.
    const std::string bytes = "\xCF\xE0\xF0\xEE\xEB\xFC";
    folder.write(L"Mistlock.lng", "[Translation]\r\nPass=" + bytes + "\r\n");
    EXPECT_EQ(read(u"Translation", u"Pass"), platform::widen(bytes));
    if (GetACP() == 1251) {
        EXPECT_EQ(read(u"Translation", u"Pass"), u"Пароль");
    } else if (GetACP() == 1252) {
        EXPECT_EQ(read(u"Translation", u"Pass"), u"Ïàðîëü");
    }
}

TEST_F(Profile, RelativePathsAreTakenFromTheCurrentFolder) {
    // The system would look for a bare name in the Windows folder.
    folder.write(L"Mistlock.lng", "[Translation]\r\nUse=Here\r\n");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    const auto bare = platform::readProfileString(u"Mistlock.lng", u"Translation", u"Use");
    const auto dotted = platform::readProfileString(u".\\Mistlock.lng", u"Translation", u"Use");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(bare, u"Here");
    EXPECT_EQ(dotted, u"Here");
}

TEST_F(Profile, FilesWithCyrillicNamesAreRead) {
    folder.write(L"\x042F\x0437\x044B\x043A.lng", "[Translation]\r\nKey=File\r\n");  // "Язык.lng"
    EXPECT_EQ(read(u"Translation", u"Key", L"\x042F\x0437\x044B\x043A.lng"), u"File");
}

}  // namespace
