// The system's random generator through the platform seam, natively and under
// Wine: every byte asked for is filled and none beyond, draws differ, every
// byte value turns up in a long draw, and a failing generator raises an error
// that says what to do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_seams.h"

namespace {

using Bytes = std::vector<unsigned char>;

// `size` bytes drawn into the middle of a buffer of 0xa5, with 64 guard
// bytes on each side.
Bytes drawn(std::size_t size) {
    Bytes buffer(size + 128, 0xa5);
    platform::randomBytes(buffer.data() + 64, size);
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(buffer[i], 0xa5) << "written before the buffer";
        EXPECT_EQ(buffer[64 + size + i], 0xa5) << "written past the buffer";
    }
    return Bytes(buffer.begin() + 64, buffer.end() - 64);
}

TEST(RandomBytes, FillsWhatIsAskedAndNothingElse) {
    EXPECT_TRUE(drawn(0).empty());
    // Two draws of 16 bytes are equal by chance once in 2^128.
    for (std::size_t size : {12, 16, 32}) EXPECT_NE(drawn(size), drawn(size)) << size << " bytes";
    // 2^20 + 3 bytes: each value about 4096 times; a value missing, or
    // drawn more than twice as often as it should be, means a broken source.
    const Bytes many = drawn((1u << 20) + 3);
    std::vector<std::size_t> counts(256);
    for (unsigned char b : many) ++counts[b];
    for (int value = 0; value < 256; ++value) {
        EXPECT_GT(counts[value], 2048u) << "byte value " << value;
        EXPECT_LT(counts[value], 8192u) << "byte value " << value;
    }
}

TEST(RandomBytes, AFailingGeneratorRaisesAnErrorThatSaysWhatToDo) {
    platform::seams::failRandomSource(1);
    unsigned char nonce[12];
    try {
        platform::randomBytes(nonce, sizeof nonce);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("random number generator failed"), std::string::npos) << message;
        EXPECT_NE(message.find("nothing can be sealed now. Try again"), std::string::npos) << message;
    }
    // Once only: the next request is served.
    EXPECT_NO_THROW(platform::randomBytes(nonce, sizeof nonce));
    platform::seams::clear();
}

}  // namespace
