// The two streams the envelope hands the cipher: one reads the caller's bytes
// where they are, the other appends the cipher's output to the caller's
// string. Expectations are the bytes put in, and FIPS-197's AES-256 example
// (appendix C.3).
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "crypto/ElAES.h"
#include "crypto/view_streams.h"
#include "tests/crypto/test_support.h"

namespace {

std::string unhex(const std::string& digits) { return testsupport::bytesToString(testsupport::fromHex(digits)); }
std::string hex(const std::string& bytes) {
    std::string digits = testsupport::toHex(testsupport::stringToBytes(bytes));
    for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digits;
}

TEST(ViewStream, ReadsTheBytesInPlaceUpToTheirEnd) {
    const std::string bytes = "0123456789";
    ElAES::ViewStream stream(bytes);
    EXPECT_EQ(stream.Size(), 10u);
    EXPECT_EQ(stream.Position(), 0u);

    char buffer[8] = {};
    ASSERT_EQ(stream.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(stream.Position(), 4u);
    // Short at the end, then nothing.
    ASSERT_EQ(stream.Read(buffer, 8), 6u);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(stream.Position(), 10u);
    EXPECT_EQ(stream.Read(buffer, 8), 0u);

    stream.SetPosition(7);
    ASSERT_EQ(stream.Read(buffer, 8), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    stream.SetPosition(11);
    EXPECT_EQ(stream.Read(buffer, 1), 0u);
    EXPECT_EQ(stream.Position(), 11u);
}

TEST(ViewStream, TakesNoWrites) {
    const std::string bytes = "abc";
    ElAES::ViewStream stream(bytes);
    EXPECT_EQ(stream.Write("xyz", 3), 0u);
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_EQ(bytes, "abc");
}

TEST(AppendStream, AppendsAtTheEndOfWhatTheStringHolds) {
    std::string bytes = "head";
    ElAES::AppendStream stream(bytes);
    EXPECT_EQ(stream.Position(), 4u);
    EXPECT_EQ(stream.Size(), 4u);
    ASSERT_EQ(stream.Write("12", 2), 2u);
    ASSERT_EQ(stream.Write("345", 3), 3u);
    EXPECT_EQ(bytes, "head12345");
    EXPECT_EQ(stream.Position(), 9u);
    EXPECT_EQ(stream.Size(), 9u);
}

TEST(AppendStream, RefusesWritesAwayFromTheEndAndReadsNothing) {
    std::string bytes = "head";
    ElAES::AppendStream stream(bytes);
    stream.SetPosition(1);
    EXPECT_EQ(stream.Write("xy", 2), 0u);
    stream.SetPosition(6);
    EXPECT_EQ(stream.Write("xy", 2), 0u);
    EXPECT_EQ(bytes, "head");
    stream.SetPosition(0);
    char buffer[4] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 0u);
}

// FIPS-197 appendix C.3.
const char kKey[] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
const char kPlain[] = "00112233445566778899AABBCCDDEEFF";
const char kCipher[] = "8EA2B7CA516745BFEAFC49904B496089";

ElAES::Key fipsKey() {
    const std::string bytes = unhex(kKey);
    ElAES::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(bytes[i]);
    return key;
}

TEST(ViewStreams, CarryTheCipherFromOneStringToTheEndOfAnother) {
    // Two blocks, the same plaintext block twice, read from the middle of a
    // string and appended behind a prefix.
    const std::string source = "skip" + unhex(kPlain) + unhex(kPlain);
    std::string sealed = "L:";
    sealed.reserve(2 + 32);
    ElAES::ViewStream in(source);
    in.SetPosition(4);
    ElAES::AppendStream out(sealed);
    ElAES::encryptStream(in, 32, fipsKey(), out);
    EXPECT_EQ(sealed.substr(0, 2), "L:");
    EXPECT_EQ(hex(sealed.substr(2)), std::string(kCipher) + kCipher);

    std::string opened;
    ElAES::ViewStream cipherIn(sealed);
    cipherIn.SetPosition(2);
    ElAES::AppendStream plainOut(opened);
    ElAES::decryptStream(cipherIn, 32, fipsKey(), plainOut);
    EXPECT_EQ(hex(opened), std::string(kPlain) + kPlain);
}

}  // namespace
