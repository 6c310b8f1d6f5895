// The byte values each code page leaves unassigned, natively over the
// headless tables and under Wine over Windows' own conversions: those that
// Python's codecs refuse, `bytes([b]).decode('cpNNNN')`, listed once here.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/records.h"

TEST(CodePageDefines, EveryByteBySingleByteCodePage) {
    const struct { unsigned codePage; const char* unassignedHex; } cases[] = {
        {437, ""}, {866, ""}, {1250, "8183889098"}, {1251, "98"}, {1252, "818D8F909D"},
        {1253, "81888A8C8D8E8F90989A9C9D9E9FAAD2FF"}, {1254, "818D8E8F909D9E"}, {1257, "8183888A8C90989A9C9FA1A5"},
    };
    for (const auto& c : cases) {
        const std::string unassigned = testing_records::unhex(c.unassignedHex);
        for (int b = 0; b < 256; ++b) {
            const std::string text = "key " + std::string(1, static_cast<char>(b)) + " text";
            EXPECT_EQ(platform::codePageDefines(c.codePage, text), unassigned.find(static_cast<char>(b)) == std::string::npos)
                << "code page " << c.codePage << ", byte " << b;
        }
    }
}
