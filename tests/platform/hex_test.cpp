// The one hex-digit table of the shipped code. Expectations are written out
// by hand or come from the C library's own formatting and parsing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/hex.h"

namespace {

using namespace std::string_literals;

TEST(Hex, BytesBecomeTwoUppercaseDigitsHighNibbleFirst) {
    EXPECT_EQ(platform::toHex(""), "");
    EXPECT_EQ(platform::toHex("\x00\x01\x0F\x10\x7F\x80\xAB\xFF"s), "00010F107F80ABFF");
    EXPECT_EQ(platform::toHex("Hi"), "4869");
}

TEST(Hex, EveryByteAsPrintfSpellsIt) {
    std::string all;
    std::string expected;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        expected += two;
    }
    EXPECT_EQ(platform::toHex(all), expected);
}

TEST(Hex, DigitsOfEitherCaseHaveTheirValue) {
    const std::string upper = "0123456789ABCDEF", lower = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(platform::hexDigitValue(upper[v]), v) << upper[v];
        EXPECT_EQ(platform::hexDigitValue(lower[v]), v) << lower[v];
    }
}

TEST(Hex, NoOtherCharacterIsADigit) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const char text[2] = {ch, '\0'};
        char* end = nullptr;
        // strtol takes exactly the sixteen digits of either case (and, alone,
        // no sign or blank produces a digit).
        const long value = std::strtol(text, &end, 16);
        const bool isDigit = c != 0 && end == text + 1;
        EXPECT_EQ(platform::hexDigitValue(ch), isDigit ? static_cast<int>(value) : -1) << "character " << c;
    }
}

}  // namespace
