// The one hex-digit table of the shipped code, against printf's %02X and
// strtol's idea of a hex digit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/hex.h"

namespace {

TEST(Hex, EveryByteAsPrintfSpellsIt) {
    EXPECT_EQ(platform::toHex(""), "");
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        expected += two;
    }
    EXPECT_EQ(platform::toHex(all), expected);
}

TEST(Hex, DigitsOfEitherCaseAndNothingElse) {
    for (int c = 0; c < 256; ++c) {
        const char text[2] = {static_cast<char>(c), '\0'};
        char* end = nullptr;
        // Alone, only one of the sixteen digits of either case converts.
        const long value = std::strtol(text, &end, 16);
        const bool isDigit = c != 0 && end == text + 1;
        EXPECT_EQ(platform::hexDigitValue(text[0]), isDigit ? static_cast<int>(value) : -1) << "character " << c;
    }
    EXPECT_EQ(platform::hexDigitValue('f'), 15);
    EXPECT_EQ(platform::hexDigitValue('F'), 15);
}

}  // namespace
