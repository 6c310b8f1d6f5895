// The one line-splitting rule of the settings file, the UIN list file and the
// dialog's UIN list. Every expectation is written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lines.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::u16string>;
using platform::splitLines;

TEST(SplitLines, CrLfLoneCrAndLoneLfEachEndALine) {
    EXPECT_EQ(splitLines(u"one\r\ntwo\rthree\nfour"), (Lines{u"one", u"two", u"three", u"four"}));
    // CR LF is one break; LF CR, CR CR LF and CR LF LF are two.
    EXPECT_EQ(splitLines(u"a\n\rb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(splitLines(u"a\r\r\nb"), (Lines{u"a", u"", u"b"}));
    EXPECT_EQ(splitLines(u"a\r\n\nb"), (Lines{u"a", u"", u"b"}));
}

TEST(SplitLines, ABreakAtTheVeryEndStartsNoFurtherLine) {
    EXPECT_EQ(splitLines(u"a\r\n"), (Lines{u"a"}));
    EXPECT_EQ(splitLines(u"a\r"), (Lines{u"a"}));
    EXPECT_EQ(splitLines(u"a\n\n"), (Lines{u"a", u""}));
    EXPECT_EQ(splitLines(u""), Lines{});
    EXPECT_EQ(splitLines(u"\r\n"), (Lines{u""}));
    EXPECT_EQ(splitLines(u"\r\n12345"), (Lines{u"", u"12345"}));
}

// Cutting at a NUL is the settings reader's rule, not the splitter's; and no
// other control or separator character breaks a line.
TEST(SplitLines, EveryOtherCharacterStaysInItsLine) {
    EXPECT_EQ(splitLines(u"a\0b\r\nc"s), (Lines{u"a\0b"s, u"c"}));
    EXPECT_EQ(splitLines(u"a\r\n\0\0"s), (Lines{u"a", u"\0\0"s}));
    const std::u16string separators = u"a\fb\vc\u0085d\u2028e\u2029f\U0001F600";
    EXPECT_EQ(splitLines(separators), (Lines{separators}));
}

}  // namespace
