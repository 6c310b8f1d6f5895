// One narrowing rule on every platform: UTF-16 to code pages 1251 and 1252,
// where a character the code page lacks becomes its default character "?"
// (never a look-alike), a surrogate pair one "?" for the whole character, a
// lone surrogate one "?", and U+0000 a zero byte. The same table runs in the
// native build over the headless layer and under Wine over Windows' own
// conversions: a damaged envelope must open to the same bytes on both.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

struct Narrowing {
    const char* what;
    std::u16string text;
    std::string cp1251;
    std::string cp1252;
};

// The bytes from the two code pages' published charts.
const Narrowing table[] = {
    {"ASCII", u"Az09 ~!", "Az09 ~!", "Az09 ~!"},
    {"Cyrillic Zhe, yo, ya", u"\u0416\u0451\u044F", "\xC6\xB8\xFF", "???"},
    {"e acute", u"caf\u00E9", "caf?", "caf\xE9"},
    {"A grave", u"\u00C0", "?", "\xC0"},
    {"u umlaut", u"\u00FC", "?", "\xFC"},
    {"S caron", u"\u0160", "?", "\x8A"},
    {"euro sign", u"\u20AC", "\x88", "\x80"},
    {"CJK", u"\u4E2D", "?", "?"},
    {"emoji", u"a\U0001F600b", "a?b", "a?b"},
    {"two emoji", u"\U0001F600\U0001F601", "??", "??"},
    {"lone high surrogate", u"a\xD83D" u"b", "a?b", "a?b"},
    {"lone low surrogate", u"a\xDE00" u"b", "a?b", "a?b"},
    {"high surrogate last", u"a\xD83D", "a?", "a?"},
    {"low before high", u"\xDE00\xD83D", "??", "??"},
    {"U+0000", std::u16string(u"a\0b\0", 4), std::string("a\0b\0", 4), std::string("a\0b\0", 4)},
};

TEST(Narrowing, OneRuleForCodePages1251And1252) {
    for (const Narrowing& n : table) {
        EXPECT_EQ(platform::narrowCodePage(1251, n.text), n.cp1251) << n.what << ", cp1251";
        EXPECT_EQ(platform::narrowCodePage(1252, n.text), n.cp1252) << n.what << ", cp1252";
    }
}

TEST(Narrowing, TheWholeTableAsOneText) {
    // Each entry keeps its bytes amid the others; the separators keep halves
    // of different entries from making a pair.
    std::u16string text;
    std::string cp1251, cp1252;
    for (const Narrowing& n : table) {
        text += n.text + u"|";
        cp1251 += n.cp1251 + "|";
        cp1252 += n.cp1252 + "|";
    }
    EXPECT_EQ(platform::narrowCodePage(1251, text), cp1251);
    EXPECT_EQ(platform::narrowCodePage(1252, text), cp1252);
}

}  // namespace
