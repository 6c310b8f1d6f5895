// The byte values each code page leaves unassigned, natively over the
// headless tables and under Wine over Windows' own conversions. The lists
// are those that Python's codecs of these code pages refuse to decode (made
// once with `bytes([b]).decode('cpNNNN')` for every b).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/platform.h"

namespace {

TEST(CodePageDefines, EveryByteBySingleByteCodePage) {
    const struct {
        unsigned codePage;
        std::set<int> unassigned;
    } cases[] = {
        {437, {}},
        {866, {}},
        {1250, {0x81, 0x83, 0x88, 0x90, 0x98}},
        {1251, {0x98}},
        {1252, {0x81, 0x8D, 0x8F, 0x90, 0x9D}},
        {1253, {0x81, 0x88, 0x8A, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x98, 0x9A, 0x9C, 0x9D, 0x9E, 0x9F, 0xAA, 0xD2, 0xFF}},
        {1254, {0x81, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9E}},
        {1257, {0x81, 0x83, 0x88, 0x8A, 0x8C, 0x90, 0x98, 0x9A, 0x9C, 0x9F, 0xA1, 0xA5}},
    };
    for (const auto& c : cases) {
        for (int b = 0; b < 256; ++b) {
            const std::string alone(1, static_cast<char>(b));
            const bool defined = c.unassigned.count(b) == 0;
            EXPECT_EQ(platform::codePageDefines(c.codePage, alone), defined)
                << "code page " << c.codePage << ", byte " << b;
            // One such byte among text is enough.
            EXPECT_EQ(platform::codePageDefines(c.codePage, "key " + alone + " text"), defined)
                << "code page " << c.codePage << ", byte " << b << " in a line";
        }
        EXPECT_TRUE(platform::codePageDefines(c.codePage, "")) << c.codePage;
    }
}

}  // namespace
