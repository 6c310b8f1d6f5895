// Code-page conversions through Windows' own tables, run under both ANSI
// code pages that matter (1251 and 1252), and the others the headless layer has. The headless layer's tables are
// checked against the system's here too: the two layers must agree byte for
// byte, or envelopes made on Linux would not open on Windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/portable/code_page_tables.h"

namespace {

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(CodePages, SystemCodePageIsTheLocalesOne) {
    EXPECT_EQ(platform::ansiCodePage(), GetACP());
    if (const char* expected = std::getenv("MISTLOCK_TEST_CODEPAGE")) {
        EXPECT_EQ(platform::ansiCodePage(), static_cast<unsigned>(std::atoi(expected)))
            << "the test runs under the wrong locale";
    }
}

class EachCodePage : public ::testing::TestWithParam<unsigned> {};

TEST_P(EachCodePage, EveryByteSurvivesWidenThenNarrow) {
    const unsigned codePage = GetParam();
    const std::u16string wide = platform::widenCodePage(codePage, allBytes());
    ASSERT_EQ(wide.size(), 256u) << "one UTF-16 unit per byte";
    EXPECT_EQ(platform::narrowCodePage(codePage, wide), allBytes());
}

TEST_P(EachCodePage, HeadlessTableAgreesWithTheSystem) {
    const unsigned codePage = GetParam();
    const char16_t* table = platform::headless::highHalfOf(codePage);
    ASSERT_NE(table, nullptr);
    const std::u16string wide = platform::widenCodePage(codePage, allBytes());
    ASSERT_EQ(wide.size(), 256u);
    for (int b = 0; b < 256; ++b) {
        const char16_t expected = b < 0x80 ? static_cast<char16_t>(b) : table[b - 0x80];
        EXPECT_EQ(static_cast<unsigned>(wide[b]), static_cast<unsigned>(expected)) << "byte " << b;
    }
}

TEST_P(EachCodePage, ZeroBytesAndUnitsSurvive) {
    const unsigned codePage = GetParam();
    const std::string bytes("a\0b\0", 4);
    EXPECT_EQ(platform::widenCodePage(codePage, bytes), std::u16string(u"a\0b\0", 4));
    EXPECT_EQ(platform::narrowCodePage(codePage, std::u16string(u"\0x\0", 3)), std::string("\0x\0", 3));
}

TEST_P(EachCodePage, EmptyTextStaysEmpty) {
    EXPECT_EQ(platform::widenCodePage(GetParam(), ""), u"");
    EXPECT_EQ(platform::narrowCodePage(GetParam(), u""), "");
}

// The two ANSI code pages that matter, and those an envelope from another
// peer is read through.
INSTANTIATE_TEST_SUITE_P(Windows, EachCodePage, ::testing::Values(1251u, 1252u, 1250u, 1253u, 1254u, 1257u, 866u, 437u),
                         [](const auto& info) { return "cp" + std::to_string(info.param); });

struct Mapping {
    unsigned codePage;
    unsigned char byte;
    char16_t character;
};

// Known characters, among them the ones where 1251 and 1252 differ and the
// bytes that a code page leaves undefined.
const Mapping mappings[] = {
    {1251, 0xC0, u'\u0410'}, {1252, 0xC0, u'\u00C0'}, {1251, 0x88, u'\u20AC'}, {1252, 0x80, u'\u20AC'},
    {1251, 0xA8, u'\u0401'}, {1251, 0xB8, u'\u0451'}, {1251, 0xFF, u'\u044F'}, {1252, 0xFF, u'\u00FF'},
    {1252, 0x8A, u'\u0160'}, {1251, 0x98, u'\u0098'}, {1252, 0x81, u'\u0081'}, {1252, 0x9D, u'\u009D'},
};

TEST(CodePages, KnownCharactersBothWays) {
    for (const Mapping& m : mappings) {
        const std::string byte(1, static_cast<char>(m.byte));
        EXPECT_EQ(platform::widenCodePage(m.codePage, byte), std::u16string(1, m.character))
            << "cp" << m.codePage << " byte " << int(m.byte);
        EXPECT_EQ(platform::narrowCodePage(m.codePage, std::u16string(1, m.character)), byte)
            << "cp" << m.codePage << " U+" << std::hex << unsigned(m.character);
    }
}

// Windows would first look for a close character of the code page ("best
// fit": é becomes e in 1251) and give each half of a surrogate pair its own
// default character. The plug-in gives the default character for whatever the
// code page lacks, and one for a whole pair, as the headless layer does.
TEST(CodePages, MissingCharactersBecomeTheDefaultCharacter) {
    struct Case {
        unsigned codePage;
        std::u16string text;
        std::string expected;
    } const cases[] = {
        {1251, u"\u4E2D", "?"},           // CJK in a Cyrillic page
        {1252, u"\u0416\u0430", "??"},    // Cyrillic in a Western page
        {1251, u"a\u00E9b", "a?b"},       // é is not in 1251: no best fit
        {1251, u"\u00C0", "?"},           // nor is À
        {1252, u"\U0001F600", "?"},       // outside the BMP: one character
        {1251, u"\U0001F600", "?"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::narrowCodePage(c.codePage, c.text), c.expected) << "cp" << c.codePage;
    }
}

// Code pages that refuse WC_NO_BEST_FIT_CHARS still convert.
TEST(CodePages, Utf8NarrowsWithoutTheBestFitFlag) {
    EXPECT_EQ(platform::narrowCodePage(CP_UTF8, u"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(CodePages, SystemConversionsUseTheSystemCodePage) {
    const std::string bytes = allBytes();
    EXPECT_EQ(platform::widen(bytes), platform::widenCodePage(GetACP(), bytes));
    EXPECT_EQ(platform::narrow(platform::widen(bytes)), bytes);
    // Cyrillic text through the system page: exact under 1251, defaulted under 1252.
    const std::u16string cyrillic = u"Пароль";
    const std::string narrowed = platform::narrow(cyrillic);
    if (GetACP() == 1251) {
        EXPECT_EQ(narrowed, "\xCF\xE0\xF0\xEE\xEB\xFC");
        EXPECT_EQ(platform::widen(narrowed), cyrillic);
    } else {
        EXPECT_EQ(narrowed, "??????");
    }
}

TEST(CodePages, UnknownCodePageIsAnError) {
    EXPECT_THROW(platform::widenCodePage(64999, "abc"), Exception);
    EXPECT_THROW(platform::narrowCodePage(64999, u"abc"), Exception);
}

}  // namespace
