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
