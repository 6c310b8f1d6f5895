// The one line-splitting rule of the settings file, the UIN list file and the
// dialog's UIN list. Every expectation is written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lines.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::u16string>;

TEST(SplitLines, EachOfTheThreeBreaksEndsALine) {
    EXPECT_EQ(platform::splitLines(u"a\r\nb"), (Lines{u"a", u"b"}));
    EXPECT_EQ(platform::splitLines(u"a\rb"), (Lines{u"a", u"b"}));
    EXPECT_EQ(platform::splitLines(u"a\nb"), (Lines{u"a", u"b"}));
    EXPECT_EQ(platform::splitLines(u"one\r\ntwo\rthree\nfour"), (Lines{u"one", u"two", u"three", u"four"}));
}

TEST(SplitLines, CrLfIsOneBreakButLfCrIsTwo) {
    EXPECT_EQ(platform::splitLines(u"a\n\rb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(platform::splitLines(u"a\r\r\nb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(platform::splitLines(u"a\r\n\nb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(platform::splitLines(u"a\r\n\r\nb"), (Lines{u"a", u"", u"b"}));
}

TEST(SplitLines, ABreakAtTheVeryEndStartsNoFurtherLine) {
    EXPECT_EQ(platform::splitLines(u"a\r\n"), (Lines{u"a"}));
    EXPECT_EQ(platform::splitLines(u"a\r"), (Lines{u"a"}));
    EXPECT_EQ(platform::splitLines(u"a\n"), (Lines{u"a"}));
    EXPECT_EQ(platform::splitLines(u"a\r\n\r\n"), (Lines{u"a", u""}));
    EXPECT_EQ(platform::splitLines(u"a\n\n"), (Lines{u"a", u""}));
}

TEST(SplitLines, TheEmptyTextHasNoLinesAndABareBreakHasOneEmptyLine) {
    EXPECT_EQ(platform::splitLines(u""), Lines{});
    EXPECT_EQ(platform::splitLines(u"\r\n"), (Lines{u""}));
    EXPECT_EQ(platform::splitLines(u"\r"), (Lines{u""}));
    EXPECT_EQ(platform::splitLines(u"\n"), (Lines{u""}));
    EXPECT_EQ(platform::splitLines(u"\n\r"), (Lines{u"", u""}));
}

TEST(SplitLines, ALastLineWithoutABreakCounts) {
    EXPECT_EQ(platform::splitLines(u"12345"), (Lines{u"12345"}));
    EXPECT_EQ(platform::splitLines(u"\r\n12345"), (Lines{u"", u"12345"}));
}

// Cutting at a NUL is the settings reader's rule, not the splitter's: a NUL
// and what follows it stay in their line.
TEST(SplitLines, ANulIsAnOrdinaryCharacter) {
    EXPECT_EQ(platform::splitLines(u"a\0b\r\nc"s), (Lines{u"a\0b"s, u"c"}));
    EXPECT_EQ(platform::splitLines(u"\0"s), (Lines{u"\0"s}));
    EXPECT_EQ(platform::splitLines(u"a\r\n\0\0"s), (Lines{u"a", u"\0\0"s}));
}

TEST(SplitLines, OtherControlAndSeparatorCharactersDoNotBreak) {
    // Form feed, vertical tab, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
    const std::u16string text = u"a\fb\vc\u0085d\u2028e\u2029f";
    EXPECT_EQ(platform::splitLines(text), (Lines{text}));
}

TEST(SplitLines, NonAsciiTextIsKeptUnitForUnit) {
    EXPECT_EQ(platform::splitLines(u"\u0434\u0440\u0443\u0433\r\n\U0001F600"),
              (Lines{u"\u0434\u0440\u0443\u0433", u"\U0001F600"}));
}

}  // namespace
