// The stream routines: count resolution, zero fill, the errors and what stands
// in the streams afterwards.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "crypto/memory_stream.h"
#include "tests/crypto/test_streams.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

const ElAES::Key kKey = keyFromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");

// Bytes 0, 1, 2, ... (mod 251, so that no two blocks are alike).
std::string patternBytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

// ECB of the bytes, the last block zero-filled, done with the block operations.
std::string ecb(const std::string& bytes, bool encrypt) {
    ElAES::Schedule schedule;
    if (encrypt) {
        ElAES::buildEncryptionSchedule(kKey, schedule);
    } else {
        ElAES::buildDecryptionSchedule(kKey, schedule);
    }
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        ElAES::Block in{};
        for (std::size_t i = 0; i < 16 && at + i < bytes.size(); ++i) in[i] = static_cast<std::uint8_t>(bytes[at + i]);
        ElAES::Block block;
        if (encrypt) {
            ElAES::encryptBlock(in, schedule, block);
        } else {
            ElAES::decryptBlock(in, schedule, block);
        }
        out.append(reinterpret_cast<const char*>(block.data()), block.size());
    }
    return out;
}

// ---- Count resolution, both directions ----------------------------------

struct CountCase {
    const char* name;
    std::size_t size;      // source size
    std::uint64_t start;   // source position before the call
    std::uint32_t count;   // count argument
    std::size_t from;      // first source byte taken
    std::size_t taken;     // resolved count
};

const CountCase kCountCases[] = {
    {"EmptySourceCountZero", 0, 0, 0, 0, 0},
    {"CountZeroRewinds", 20, 4, 0, 0, 20},
    {"CountZeroRewindsFromTheEnd", 48, 48, 0, 0, 48},
    {"CountZeroWholeBlocksNoPaddingBlock", 32, 0, 0, 0, 32},
    {"CountFiveOfHundred", 100, 0, 5, 0, 5},
    {"CountCutToRemaining", 100, 90, 100, 90, 10},
    {"CountFromTheMiddle", 100, 50, 16, 50, 16},
    {"CountOneBlockExactlyAtEnd", 100, 84, 16, 84, 16},
    {"LargestCountCutToRemaining", 33, 1, 0xffffffffu, 1, 32},
    {"CountTwoToThe31CutToRemaining", 40, 8, 0x80000000u, 8, 32},
    {"NonZeroCountAtEndDoesNothing", 100, 100, 7, 100, 0},
    {"NonZeroCountPastEndDoesNothing", 100, 120, 5, 120, 0},
    {"CountFourteenOfSixteen", 16, 0, 14, 0, 14},
};

class CountResolution : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountResolution, Encrypt) {
    const CountCase& c = GetParam();
    const std::string source = patternBytes(c.size);
    ElAES::MemoryStream in(source);
    in.SetPosition(c.start);
    ElAES::MemoryStream out;
    ElAES::encryptStream(in, c.count, kKey, out);

    EXPECT_EQ(out.Size(), (c.taken + 15) / 16 * 16);
    EXPECT_EQ(toHex(out.bytes()), toHex(ecb(source.substr(c.from < c.size ? c.from : c.size, c.taken), true)));
    EXPECT_EQ(out.Position(), out.Size());
    const std::uint64_t end = c.taken == 0 && c.count != 0 ? c.start : c.from + c.taken;
    EXPECT_EQ(in.Position(), end);
    EXPECT_EQ(in.bytes(), source);  // the source is never changed
}

TEST_P(CountResolution, Decrypt) {
    const CountCase& c = GetParam();
    const std::string source = patternBytes(c.size);
    ElAES::MemoryStream in(source);
    in.SetPosition(c.start);
    ElAES::MemoryStream out;
    if (c.taken % 16 != 0) {
        try {
            ElAES::decryptStream(in, c.count, kKey, out);
            FAIL() << "no error for a count of " << c.taken;
        } catch (const ElAES::EAESError& e) {
            EXPECT_STREQ(e.what(), "Invalid buffer size for decryption");
        }
        EXPECT_EQ(out.Size(), 0u);
        EXPECT_EQ(out.Position(), 0u);
        EXPECT_EQ(in.Position(), c.count == 0 ? 0u : c.start);  // rewound only by count 0
        return;
    }
    ElAES::decryptStream(in, c.count, kKey, out);
    EXPECT_EQ(out.Size(), c.taken);
    EXPECT_EQ(toHex(out.bytes()), toHex(ecb(source.substr(c.from < c.size ? c.from : c.size, c.taken), false)));
    const std::uint64_t end = c.taken == 0 && c.count != 0 ? c.start : c.from + c.taken;
    EXPECT_EQ(in.Position(), end);
}

INSTANTIATE_TEST_SUITE_P(Streams, CountResolution, ::testing::ValuesIn(kCountCases),
                         [](const ::testing::TestParamInfo<CountCase>& info) { return info.param.name; });

// ---- Output form ----------------------------------------------------------

// The 20-byte case spelled out: block one is bytes 0..15, block two is bytes
// 16..19 and twelve zero bytes; the zero fill is exactly that.
TEST(StreamEncryption, LastBlockIsZeroFilled) {
    const std::string source = patternBytes(20);
    ElAES::MemoryStream in(source);
    in.SetPosition(4);
    ElAES::MemoryStream out;
    ElAES::encryptStream(in, 0, kKey, out);
    ASSERT_EQ(out.Size(), 32u);
    const std::string expectedSecond = ecb(source.substr(16, 4) + std::string(12, '\0'), true);
    EXPECT_EQ(toHex(out.bytes().substr(0, 16)), toHex(ecb(source.substr(0, 16), true)));
    EXPECT_EQ(toHex(out.bytes().substr(16)), toHex(expectedSecond));
    // The fill is zero, not whatever the previous block left behind.
    EXPECT_NE(toHex(out.bytes().substr(16)), toHex(ecb(source.substr(16, 4) + source.substr(4, 12), true)));
    EXPECT_EQ(in.Position(), 20u);
}

TEST(StreamEncryption, FiveBytesRoundTripToFiveBytesAndElevenZeros) {
    ElAES::MemoryStream plain("hello");
    ElAES::MemoryStream cipher;
    ElAES::encryptStream(plain, 0, kKey, cipher);
    ASSERT_EQ(cipher.Size(), 16u);
    cipher.SetPosition(0);
    ElAES::MemoryStream back;
    ElAES::decryptStream(cipher, 16, kKey, back);
    EXPECT_EQ(back.bytes(), std::string("hello") + std::string(11, '\0'));
}

TEST(StreamEncryption, EqualBlocksGiveEqualCiphertextInEveryCall) {
    const std::string block = patternBytes(16);
    ElAES::MemoryStream in(block + block + patternBytes(17).substr(1) + block);
    ElAES::MemoryStream first;
    ElAES::encryptStream(in, 0, kKey, first);
    ASSERT_EQ(first.Size(), 64u);
    const std::string& c = first.bytes();
    EXPECT_EQ(c.substr(0, 16), c.substr(16, 16));
    EXPECT_EQ(c.substr(0, 16), c.substr(48, 16));
    EXPECT_NE(c.substr(0, 16), c.substr(32, 16));

    ElAES::MemoryStream second;
    ElAES::encryptStream(in, 0, kKey, second);
    EXPECT_EQ(second.bytes(), first.bytes());
}

TEST(StreamEncryption, BytesAlreadyInTheDestinationStay) {
    ElAES::MemoryStream in(patternBytes(21));
    ElAES::MemoryStream out;
    out.Write("\x15\x00\x00\x00", 4);  // the length that the envelope puts in front
    ElAES::encryptStream(in, 0, kKey, out);
    ASSERT_EQ(out.Size(), 36u);
    EXPECT_EQ(out.bytes().substr(0, 4), std::string("\x15\x00\x00\x00", 4));
    EXPECT_EQ(toHex(out.bytes().substr(4)), toHex(ecb(patternBytes(21), true)));
}

// Writing starts at the destination's position and never truncates: bytes
// before and after the written run stay.
TEST(StreamEncryption, DestinationIsOverwrittenAtItsPositionNotTruncated) {
    const std::string before(40, 'x');
    ElAES::MemoryStream out(before);
    out.SetPosition(8);
    ElAES::MemoryStream in(patternBytes(16));
    ElAES::encryptStream(in, 0, kKey, out);
    EXPECT_EQ(out.Size(), 40u);
    EXPECT_EQ(out.Position(), 24u);
    EXPECT_EQ(out.bytes().substr(0, 8), before.substr(0, 8));
    EXPECT_EQ(toHex(out.bytes().substr(8, 16)), toHex(ecb(patternBytes(16), true)));
    EXPECT_EQ(out.bytes().substr(24), before.substr(24));
}

// The envelope's use: a 4-byte length, then the ciphertext; on receipt the
// length is read and the rest decrypted with count = Size - Position.
TEST(StreamEncryption, LengthPrefixedPayloadRoundTrip) {
    const std::string message = "The quick brown fox jumps over the lazy dog";
    ElAES::MemoryStream plain(message);
    ElAES::MemoryStream payload;
    payload.Write("\x2b\x00\x00\x00", 4);
    ElAES::encryptStream(plain, 0, kKey, payload);
    ASSERT_EQ(payload.Size(), 4u + 48u);

    payload.SetPosition(0);
    char length[4];
    ASSERT_EQ(payload.Read(length, 4), 4u);
    ElAES::MemoryStream back;
    ElAES::decryptStream(payload, static_cast<std::uint32_t>(payload.Size() - payload.Position()), kKey, back);
    EXPECT_EQ(back.bytes(), message + std::string(48 - message.size(), '\0'));
    EXPECT_EQ(payload.Position(), payload.Size());
}

TEST(StreamEncryption, ScheduleTakingRoutinesMatchKeyTakingOnes) {
    const std::string source = patternBytes(77);
    ElAES::Schedule encryption;
    ElAES::Schedule decryption;
    ElAES::buildEncryptionSchedule(kKey, encryption);
    ElAES::buildDecryptionSchedule(kKey, decryption);

    ElAES::MemoryStream in1(source), out1, in2(source), out2;
    ElAES::encryptStream(in1, 0, kKey, out1);
    ElAES::encryptStreamWithSchedule(in2, 0, encryption, out2);
    EXPECT_EQ(out2.bytes(), out1.bytes());

    ElAES::MemoryStream back1, back2;
    out1.SetPosition(0);
    out2.SetPosition(0);
    ElAES::decryptStream(out1, 0, kKey, back1);
    ElAES::decryptStreamWithSchedule(out2, 0, decryption, back2);
    EXPECT_EQ(back2.bytes(), back1.bytes());
    EXPECT_EQ(back1.bytes(), source + std::string(3, '\0'));
}

TEST(StreamEncryption, WrongKeyDecryptsToOtherBytesWithoutError) {
    ElAES::MemoryStream plain(patternBytes(32));
    ElAES::MemoryStream cipher;
    ElAES::encryptStream(plain, 0, kKey, cipher);
    ElAES::Key wrong = kKey;
    wrong[31] ^= 1;
    ElAES::MemoryStream back;
    ElAES::decryptStream(cipher, 0, wrong, back);
    EXPECT_EQ(back.Size(), 32u);
    EXPECT_NE(back.bytes(), patternBytes(32));
}

// The 4-byte payload that holds only its length: count 0 rewinds, resolves to 4
// and fails, having written nothing.
TEST(StreamDecryption, LengthOnlyPayloadRewindsAndRaises) {
    ElAES::MemoryStream in(std::string("\x05\x00\x00\x00", 4));
    in.SetPosition(4);
    ElAES::MemoryStream out(std::string("keep"));
    out.SetPosition(4);
    try {
        ElAES::decryptStream(in, 0, kKey, out);
        FAIL() << "no error";
    } catch (const Exception& e) {  // reaches callers that catch the general base
        EXPECT_NE(dynamic_cast<const ElAES::EAESError*>(&e), nullptr);
        EXPECT_STREQ(e.what(), "Invalid buffer size for decryption");
    }
    EXPECT_EQ(in.Position(), 0u);
    EXPECT_EQ(out.bytes(), "keep");
    EXPECT_EQ(out.Position(), 4u);
}

// ---- Streams that come up short -------------------------------------------

struct ShortCase {
    const char* name;
    bool encrypt;
    std::size_t size;        // source bytes
    std::size_t readLimit;   // bytes the source gives out in all
    std::size_t writeLimit;  // bytes the destination takes in all
    const char* message;
    std::size_t written;         // destination size afterwards
    std::size_t sourcePosition;  // source position afterwards
};

constexpr std::size_t kAll = LimitedStream::kUnlimited;

const ShortCase kShortCases[] = {
    {"EncryptReadFailsInThirdBlock", true, 48, 40, kAll, "Stream read error", 32, 40},
    {"EncryptReadFailsInFirstBlock", true, 48, 0, kAll, "Stream read error", 0, 0},
    {"EncryptReadFailsInPartialBlock", true, 20, 18, kAll, "Stream read error", 16, 18},
    {"EncryptWriteFailsInThirdBlock", true, 48, kAll, 40, "Stream write error", 40, 48},
    {"EncryptWriteTakesNothing", true, 48, kAll, 32, "Stream write error", 32, 48},
    {"EncryptWriteFailsInPaddedBlock", true, 20, kAll, 20, "Stream write error", 20, 20},
    {"DecryptReadFailsInSecondBlock", false, 48, 31, kAll, "Stream read error", 16, 31},
    {"DecryptWriteFailsInSecondBlock", false, 48, kAll, 17, "Stream write error", 17, 32},
};

class ShortStream : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortStream, RaisesAndKeepsWhatWasWritten) {
    const ShortCase& c = GetParam();
    const std::string source = patternBytes(c.size);
    LimitedStream in(source, c.readLimit, kAll);
    LimitedStream out("", kAll, c.writeLimit);
    try {
        if (c.encrypt) {
            ElAES::encryptStream(in, 0, kKey, out);
        } else {
            ElAES::decryptStream(in, 0, kKey, out);
        }
        FAIL() << "no error";
    } catch (const ElAES::EStreamError& e) {
        EXPECT_STREQ(e.what(), c.message);
    }
    // Every block before the failing one, then whatever the destination took
    // of the failing one.
    const std::string full = ecb(source, c.encrypt);
    EXPECT_EQ(toHex(out.bytes()), toHex(full.substr(0, c.written)));
    EXPECT_EQ(in.Position(), c.sourcePosition);
    // One Read and one Write per block, and nothing after the failure: the
    // failing block is the one after the whole blocks written.
    const bool writeFails = std::string(c.message) == "Stream write error";
    EXPECT_EQ(in.reads(), static_cast<int>(c.written / 16 + 1));
    EXPECT_EQ(out.writes(), static_cast<int>(c.written / 16 + (writeFails ? 1 : 0)));
}

INSTANTIATE_TEST_SUITE_P(Streams, ShortStream, ::testing::ValuesIn(kShortCases),
                         [](const ::testing::TestParamInfo<ShortCase>& info) { return info.param.name; });

// ---- The in-memory stream ---------------------------------------------------

TEST(MemoryStream, ReadComesUpShortOnlyAtTheEnd) {
    ElAES::MemoryStream s("abcdefghij");
    char buffer[16] = {};
    EXPECT_EQ(s.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(s.Position(), 4u);
    EXPECT_EQ(s.Read(buffer, 16), 6u);
    EXPECT_EQ(std::string(buffer, 6), "efghij");
    EXPECT_EQ(s.Position(), 10u);
    EXPECT_EQ(s.Read(buffer, 1), 0u);
    s.SetPosition(25);
    EXPECT_EQ(s.Read(buffer, 1), 0u);
    EXPECT_EQ(s.Position(), 25u);
}

TEST(MemoryStream, WriteOverwritesAndEnlarges) {
    ElAES::MemoryStream s("abcdef");
    s.SetPosition(4);
    EXPECT_EQ(s.Write("XYZ", 3), 3u);
    EXPECT_EQ(s.bytes(), "abcdXYZ");
    EXPECT_EQ(s.Position(), 7u);
    s.SetPosition(1);
    EXPECT_EQ(s.Write("1", 1), 1u);
    EXPECT_EQ(s.bytes(), "a1cdXYZ");
    EXPECT_EQ(s.Size(), 7u);
    s.SetPosition(9);  // past the end: the gap reads as zero bytes
    EXPECT_EQ(s.Write("!", 1), 1u);
    EXPECT_EQ(s.bytes(), std::string("a1cdXYZ\0\0!", 10));
    EXPECT_EQ(s.Write("", 0), 0u);
    EXPECT_EQ(s.Size(), 10u);
}

TEST(MemoryStream, ZeroBytesAreData) {
    ElAES::MemoryStream s(std::string("\0a\0", 3));
    EXPECT_EQ(s.Size(), 3u);
    char buffer[3];
    EXPECT_EQ(s.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0a\0", 3));
}

}  // namespace
