// Properties of the block operations over many random keys and blocks, checked
// against the byte-wise model of FIPS-197.
#include <random>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "tests/crypto/reference_aes.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

constexpr int kRandomCases = 2000;

template <std::size_t N>
std::array<std::uint8_t, N> randomBytes(std::mt19937& rng) {
    std::array<std::uint8_t, N> out{};
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

reference::Word columnOf(const ElAES::Schedule& schedule, unsigned i) {
    const std::uint32_t w = schedule.w[i];
    return {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w >> 16),
            static_cast<std::uint8_t>(w >> 24)};
}

TEST(AesProperties, AgreesWithByteWiseModelForRandomKeysAndBlocks) {
    std::mt19937 rng(20240611);
    for (int n = 0; n < kRandomCases / 4; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        const ElAES::Block block = randomBytes<16>(rng);
        SCOPED_TRACE("key " + toHex(key) + " block " + toHex(block));
        ElAES::Schedule encryption;
        ElAES::Schedule decryption;
        ElAES::buildEncryptionSchedule(key, encryption);
        ElAES::buildDecryptionSchedule(key, decryption);

        const auto words = reference::expandKey(key, 64);
        for (unsigned i = 0; i < 64; ++i) ASSERT_EQ(toHex(columnOf(encryption, i)), toHex(words[i])) << "W" << i;

        ElAES::Block out;
        ElAES::encryptBlock(block, encryption, out);
        ASSERT_EQ(toHex(out), toHex(reference::cipher(block, key)));
        ElAES::decryptBlock(block, decryption, out);
        ASSERT_EQ(toHex(out), toHex(reference::invCipher(block, key)));
    }
}

TEST(AesProperties, DecryptionUndoesEncryptionAndViceVersa) {
    std::mt19937 rng(7);
    for (int n = 0; n < kRandomCases; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        const ElAES::Block block = randomBytes<16>(rng);
        ElAES::Schedule encryption;
        ElAES::Schedule decryption;
        ElAES::buildEncryptionSchedule(key, encryption);
        ElAES::buildDecryptionSchedule(key, decryption);
        ElAES::Block there;
        ElAES::Block back;
        ElAES::encryptBlock(block, encryption, there);
        ElAES::decryptBlock(there, decryption, back);
        ASSERT_EQ(toHex(back), toHex(block)) << "key " << toHex(key);
        ASSERT_NE(toHex(there), toHex(block)) << "key " << toHex(key);
        ElAES::decryptBlock(block, decryption, there);
        ElAES::encryptBlock(there, encryption, back);
        ASSERT_EQ(toHex(back), toHex(block)) << "key " << toHex(key);
    }
}

TEST(AesProperties, InPlaceGivesTheSameAsSeparateStorage) {
    std::mt19937 rng(99);
    for (int n = 0; n < kRandomCases / 4; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        const ElAES::Block block = randomBytes<16>(rng);
        ElAES::Schedule encryption;
        ElAES::Schedule decryption;
        ElAES::buildEncryptionSchedule(key, encryption);
        ElAES::buildDecryptionSchedule(key, decryption);

        ElAES::Block separate;
        ElAES::Block inPlace = block;
        ElAES::encryptBlock(block, encryption, separate);
        ElAES::encryptBlock(inPlace, encryption, inPlace);
        ASSERT_EQ(toHex(inPlace), toHex(separate));

        inPlace = block;
        ElAES::decryptBlock(block, decryption, separate);
        ElAES::decryptBlock(inPlace, decryption, inPlace);
        ASSERT_EQ(toHex(inPlace), toHex(separate));
    }
}

// Decryption schedule: round keys 0 and 14 and the four extra words as in the
// encryption schedule; MixColumns of each word of round keys 1 to 13 gives the
// encryption word back.
TEST(AesProperties, DecryptionScheduleIsInvMixColumnsOfTheMiddleRoundKeys) {
    std::mt19937 rng(3);
    for (int n = 0; n < kRandomCases / 4; ++n) {
        const ElAES::Key key = randomBytes<32>(rng);
        ElAES::Schedule encryption;
        ElAES::Schedule decryption;
        ElAES::buildEncryptionSchedule(key, encryption);
        ElAES::buildDecryptionSchedule(key, decryption);
        for (unsigned i = 0; i < 64; ++i) {
            if (i < 4 || i >= 56) {
                ASSERT_EQ(decryption.w[i], encryption.w[i]) << "W" << i << " key " << toHex(key);
            } else {
                ASSERT_EQ(toHex(reference::mixColumn(columnOf(decryption, i))), toHex(columnOf(encryption, i)))
                    << "W" << i << " key " << toHex(key);
            }
        }
    }
}

}  // namespace
