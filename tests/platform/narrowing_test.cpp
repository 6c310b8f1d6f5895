// One narrowing rule on every platform, natively over the headless layer and
// under Wine over Windows' own conversions: a character the code page lacks
// becomes "?" (never a look-alike), a surrogate pair one "?", a lone surrogate
// one "?", U+0000 a zero byte. A damaged envelope opens to the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

TEST(Narrowing, OneRuleForCodePages1251And1252) {
    struct Case {
        const char* what;
        std::u16string text;
        std::string cp1251;  // from the code pages' published charts
        std::string cp1252;
    } const cases[] = {
        {"ASCII", u"Az09 ~!", "Az09 ~!", "Az09 ~!"},
        {"Cyrillic Zhe, yo, ya", u"\u0416\u0451\u044F", "\xC6\xB8\xFF", "???"},
        {"e acute", u"caf\u00E9", "caf?", "caf\xE9"},
        {"A grave", u"\u00C0", "?", "\xC0"},
        {"u umlaut", u"\u00FC", "?", "\xFC"},
        {"S caron", u"\u0160", "?", "\x8A"},
        {"euro sign", u"\u20AC", "\x88", "\x80"},
        {"emoji", u"a\U0001F600b\U0001F601", "a?b?", "a?b?"},
        {"lone high surrogate", u"a\xD83D" u"b\xD83D", "a?b?", "a?b?"},
        {"lone low surrogate", u"a\xDE00" u"b", "a?b", "a?b"},
        {"low before high", u"\xDE00\xD83D", "??", "??"},
        {"U+0000", std::u16string(u"a\0b\0", 4), std::string("a\0b\0", 4), std::string("a\0b\0", 4)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::narrowCodePage(1251, c.text), c.cp1251) << c.what << ", cp1251";
        EXPECT_EQ(platform::narrowCodePage(1252, c.text), c.cp1252) << c.what << ", cp1252";
    }
}

}  // namespace
