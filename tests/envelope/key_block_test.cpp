// The key block: the first min(n, 32) bytes of the key text's UTF-16LE form,
// n being its length in code units; and the key file whose first line is the
// key text.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <new>

#include "envelope/key_block.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/support/test_messenger.h"

using namespace envelope_test;
using test_messenger::TempFolder;
namespace fs = std::filesystem;

namespace {

std::string zeros(std::size_t bytes) { return std::string(2 * bytes, '0'); }

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(KeyBlock, FirstNBytesOfTheUtf16LeForm) {
    struct Case { std::u16string text; std::string keyHex; } cases[] = {
        {u"", zeros(32)},
        {u"a", "61" + zeros(31)},
        {u"abc", "610062" + zeros(29)},                  // n = 3: 'c' does not count
        {u"abX", "610062" + zeros(29)},
        {u"secret", "730065006300" + zeros(26)},
        {u"Пароль", "1F0430044004" + zeros(26)},         // П U+041F, а U+0430, р U+0440
        {u"ЖЖЖ", "160416" + zeros(29)},                  // odd n: the low byte of the second unit
        {u"ЖЖЖЖ", "16041604" + zeros(28)},               // the length matters
        // 31 units give 31 bytes: the 16th unit (Я U+042F) only its low byte,
        // later units nothing; the last key byte stays zero.
        {std::u16string(15, u'Ж') + u"Я" + std::u16string(15, u'q'), repeat("1604", 15) + "2F00"},
        // 32 units and more: exactly the first 16.
        {std::u16string(32, u'Ж'), repeat("1604", 16)},
        {u"0123456789abcdefX123456789abcdefY", "30003100320033003400350036003700380039006100620063006400650066" "00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexOfKey(envelope::keyBlockFromText(c.text)), c.keyHex) << c.text.size() << " units";
    }
}

TEST(KeyBlock, PasswordsThatGiveTheSameBlock) {
    const std::pair<std::u16string, std::u16string> same[] = {
        {u"abc", u"abz"},
        {u"ab", u"ac"},                      // n = 2: only the first unit
        {u"Жук", u"Жуй"},
        {u"0123456789ABCDEF" + std::u16string(16, u'x'), u"0123456789ABCDEF" + std::u16string(40, u'y')},
    };
    for (const auto& [a, b] : same) {
        EXPECT_EQ(envelope::keyBlockFromText(a), envelope::keyBlockFromText(b));
    }
    const std::pair<std::u16string, std::u16string> different[] = {
        {u"abc", u"bbc"},
        {u"Жук", u"Жу"},
        {u"0123456789ABCDEF" + std::u16string(16, u'x'), u"0123456789ABCDEf" + std::u16string(16, u'x')},
    };
    for (const auto& [a, b] : different) {
        EXPECT_NE(envelope::keyBlockFromText(a), envelope::keyBlockFromText(b));
    }
}

// ---- Key files ---------------------------------------------------------------

class KeyFile : public ::testing::Test {
protected:
    TempFolder folder;
    std::string settingsFolder() const { return folder.hostPath() + "\\"; }
    std::u16string pathOf(const std::string& name) const { return platform::widen(folder.file(name)); }
    envelope::KeySource fileSource(const std::string& typed) const { return {false, u"", platform::widen(typed)}; }
};

// "Ключ-4242": К U+041A, л U+043B, ю U+044E, ч U+0447, then ASCII; 9 units,
// 9 bytes, the last the low byte of the hyphen.
const std::u16string kKeyText = u"Ключ-4242";
const char* const kKeyHex = "1A043B044E0447042D";

TEST_F(KeyFile, EveryEncodingGivesTheFirstLine) {
    // The ANSI file holds the Windows-1251 bytes CA EB FE F7; under 1252 they
    // are Ê ë þ ÷ (U+00CA, U+00EB, U+00FE, U+00F7).
    const bool cyrillic = platform::ansiCodePage() == 1251;
    struct Case { const char* file; std::u16string text; std::string keyHex; } cases[] = {
        {"key_utf8_bom.txt", kKeyText, kKeyHex},
        {"key_utf16le_bom.txt", kKeyText, kKeyHex},
        {"key_utf16be_bom.txt", kKeyText, kKeyHex},
        {"key_cp1251.txt", cyrillic ? kKeyText : u"Êëþ÷-4242", cyrillic ? kKeyHex : "CA00EB00FE00F7002D"},
    };
    for (const auto& c : cases) {
        folder.write(c.file, dataFile(c.file));
        EXPECT_EQ(envelope::readKeyFileFirstLine(pathOf(c.file)), c.text) << c.file;
        const auto key = envelope::buildKeyBlock(fileSource(c.file), settingsFolder());
        ASSERT_TRUE(key.has_value()) << c.file;
        EXPECT_EQ(hexOfKey(*key), c.keyHex + zeros(32 - c.keyHex.size() / 2)) << c.file;
        EXPECT_EQ(*key, envelope::keyBlockFromText(c.text)) << c.file;
    }
}

TEST_F(KeyFile, FirstLineEndsAtCrLfOrNul) {
    struct Case { std::string bytes; std::u16string line; } cases[] = {
        {"keyline1\r\nk2", u"keyline1"},
        {"keyline1\nk2", u"keyline1"},
        {"keyline1\rk2", u"keyline1"},
        {"only line", u"only line"},
        {" padded  \r\n", u" padded  "},
        // With a byte-order mark a NUL ends the line like a line break.
        {std::string("\xFF\xFEk\0e\0y\0l\0i\0n\0e\0" "1\0\0\0x\0", 22), u"keyline1"},
        {std::string("\xEF\xBB\xBFkeyline1\0x", 14), u"keyline1"},
    };
    int i = 0;
    for (const auto& c : cases) {
        const std::string name = "line" + std::to_string(i++) + ".key";
        folder.write(name, c.bytes);
        EXPECT_EQ(envelope::readKeyFileFirstLine(pathOf(name)), c.line) << testing_records::hex(c.bytes);
    }
}

// A first line that is no key the user can have meant is refused, with a
// message that names the file and says why.
TEST_F(KeyFile, FirstLinesThatAreNoKey) {
    const bool cyrillic = platform::ansiCodePage() == 1251;
    // 1251 leaves only 0x98 unassigned, 1252 0x81, 0x8D, 0x8F, 0x90 and 0x9D.
    const std::string unassigned = cyrillic ? "\x98" : "\x81";
    std::string utf16le;  // "correct horse battery staple 9f8e7d6c5b4a" without a mark
    for (const char c : std::string("correct horse battery staple 9f8e7d6c5b4a")) utf16le += std::string{c, '\0'};
    struct Case { const char* what; std::string bytes; const char* why; bool noKeyText; } const cases[] = {
        {"0 bytes", "", "is empty: its first line holds the key", true},
        {"an empty first line", "\r\nsecond line", "first line of the key file", true},
        {"an empty first line after a mark", "\xEF\xBB\xBF\nsecond line", "is empty: it would give the all-zero", true},
        {"one letter", "a", "has only 1 character,", false},
        {"a space", " \r\n", "has only 1 character,", false},
        {"seven characters", "\xEF\xBB\xBF\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87-42\r\n", "has only 7 characters", false},
        {"a picture", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "has only 4 characters", false},
        {"UTF-16LE without a mark", utf16le, "looks like UTF-16 without a byte-order mark", false},
        {"UTF-16BE without a mark", std::string("\0k\0e\0y\0l\0i\0n\0e\0" "1", 16),
         "looks like UTF-16 without a byte-order mark", false},
        {"a zero byte ends the line, zeros after it", std::string("correct horse\0\0\0", 16), "is not a text file",
         false},
        {"a byte the code page leaves unassigned", "correct" + unassigned + "horse\r\n",
         cyrillic ? "is not text in code page 1251" : "is not text in code page 1252", false},
        {"marked as UTF-8 but not", "\xEF\xBB\xBF" "correct\xC0\x80horse\r\n", "is marked as UTF-8 but is not",
         false},
        {"invalid UTF-8 after the first line, within what is read", "\xEF\xBB\xBF" "correct horse\r\n\xFF",
         "is marked as UTF-8 but is not", false},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "nokey" + std::to_string(i++) + ".key";
        folder.write(name, c.bytes);
        try {
            envelope::readKeyFileFirstLine(pathOf(name));
            ADD_FAILURE() << "taken as a key";
        } catch (const envelope::EUnusableKeyFile& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.why), std::string::npos) << message;
            EXPECT_NE(message.find(name), std::string::npos) << message;
            EXPECT_EQ(e.noKeyText, c.noKeyText);
        }
        EXPECT_THROW(envelope::buildKeyBlock(fileSource(name), settingsFolder()), envelope::EUnusableKeyFile);
    }
}

// Only the first 4 KiB of a key file are read. Every key line gives the key
// it gave when the file was read whole: a line of 32 characters and more
// counts with its first 16 alone, so a line cut at the limit keys the same,
// and the bytes beyond the limit are never seen.
TEST_F(KeyFile, OnlyTheStartOfAFileIsRead) {
    const std::string mark = "\xEF\xBB\xBF";
    std::string zhe;  // Ж U+0416, two UTF-8 bytes
    for (int i = 0; i < 3000; ++i) zhe += "\xD0\x96";
    struct Case { const char* what; std::string bytes; std::uintmax_t size; std::string keyHex; } const cases[] = {
        {"a short line, then 64 MiB of zeros", "correct horse\n", std::uintmax_t{64} << 20,
         "63006F0072007200650063007400000000000000000000000000000000000000"},
        {"a line longer than what is read", std::string(10000, 'q') + "\r\n", 0, repeat("7100", 16)},
        {"UTF-8 cut inside a character where the reading stops", mark + "x" + zhe + "\r\n", 0,
         "7800" + repeat("1604", 15)},
        {"bytes beyond the limit that are no UTF-8", mark + "correct horse battery staple\r\n" +
         std::string(5000, 'x') + "\xFF", 0, "63006F0072007200650063007400200068006F00720073006500200000000000"},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "long" + std::to_string(i++) + ".key";
        folder.write(name, c.bytes);
        if (c.size) fs::resize_file(folder.file(name), c.size);
        const auto key = envelope::buildKeyBlock(fileSource(name), settingsFolder());
        ASSERT_TRUE(key.has_value());
        EXPECT_EQ(hexOfKey(*key), c.keyHex);
    }
}

TEST_F(KeyFile, FilesWithoutALineOrWithBadUtf8AreErrors) {
    const std::string cases[] = {
        "",                                       // 0 bytes
        "\xEF\xBB\xBF",                           // a byte-order mark only
        "\xFF\xFE",
        "\xFE\xFF",
        std::string("\0key", 4),                  // NUL first
        std::string("\xFF\xFE\0\0", 4),
        "\xEF\xBB\xBFkey\xC0\x80\r\n",            // marked UTF-8, but not
        "\xEF\xBB\xBF\x80",
    };
    int i = 0;
    for (const auto& bytes : cases) {
        const std::string name = "bad" + std::to_string(i++) + ".key";
        folder.write(name, bytes);
        EXPECT_ANY_THROW(envelope::readKeyFileFirstLine(pathOf(name))) << testing_records::hex(bytes);
        EXPECT_ANY_THROW(envelope::buildKeyBlock(fileSource(name), settingsFolder())) << testing_records::hex(bytes);
    }
}

// Runs a test in another current directory, so that a relative path as typed
// names a file there.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

TEST_F(KeyFile, SettingsFolderFirstThenThePathAsTyped) {
    TempFolder elsewhere;
    elsewhere.write("typed.key", "from the current folder");
    elsewhere.write("both.key", "from the current folder");
    folder.write("both.key", "from the settings folder");
    fs::create_directory(folder.file("dir.key"));
    elsewhere.write("dir.key", "from the current folder");
    fs::create_directory(folder.file("onlydir.key"));

    InDirectory cwd(elsewhere.hostPath());
    struct Case { const char* typed; const char16_t* firstLine; } cases[] = {
        {"both.key", u"from the settings folder"},
        {"typed.key", u"from the current folder"},
        {"dir.key", u"from the current folder"},   // a directory is not a key file
        {"onlydir.key", nullptr},
        {"absent.key", nullptr},
        {"", nullptr},                              // the settings folder itself is a directory
    };
    for (const auto& c : cases) {
        const auto located = envelope::locateKeyFile(settingsFolder(), platform::widen(c.typed));
        const auto key = envelope::buildKeyBlock(fileSource(c.typed), settingsFolder());
        if (!c.firstLine) {
            EXPECT_FALSE(located.has_value()) << c.typed;
            EXPECT_FALSE(key.has_value()) << c.typed;
            continue;
        }
        ASSERT_TRUE(located.has_value()) << c.typed;
        EXPECT_EQ(envelope::readKeyFileFirstLine(*located), c.firstLine) << c.typed;
        ASSERT_TRUE(key.has_value()) << c.typed;
        EXPECT_EQ(*key, envelope::keyBlockFromText(c.firstLine)) << c.typed;
    }
    // An absolute path as typed.
    const auto absolute = envelope::locateKeyFile(settingsFolder(), platform::widen(elsewhere.file("typed.key")));
    ASSERT_TRUE(absolute.has_value());
    EXPECT_EQ(envelope::readKeyFileFirstLine(*absolute), u"from the current folder");
}

TEST_F(KeyFile, PasswordSourceIgnoresTheFile) {
    folder.write("k.key", "file key");
    const auto key = envelope::buildKeyBlock({true, u"", u"k.key"}, settingsFolder());
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(hexOfKey(*key), zeros(32));
    // And a missing file does not matter to it.
    EXPECT_TRUE(envelope::buildKeyBlock({true, u"pw", u"absent.key"}, settingsFolder()).has_value());
}

// The dialog's password copy goes with the key source; a short text lives in
// the object itself, here in storage the test owns.
TEST(KeySource, ThePasswordCopyIsWipedWithIt) {
    const std::u16string password = u"pw#1";
    const auto* pattern = reinterpret_cast<const unsigned char*>(password.data());
    alignas(envelope::KeySource) unsigned char storage[sizeof(envelope::KeySource)];
    const auto holdsPassword = [&] {
        return std::search(storage, std::end(storage), pattern, pattern + 2 * password.size()) != std::end(storage);
    };
    auto* source = new (storage) envelope::KeySource{true, password, u"k.key"};
    ASSERT_TRUE(holdsPassword());
    source->~KeySource();
    EXPECT_FALSE(holdsPassword());
}

}  // namespace
