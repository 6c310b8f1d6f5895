// The block operations and the stream routines take no memory from the heap
// on their path without errors. This program counts every call of the global
// operator new while the routines run.
#include <string>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "crypto/memory_stream.h"
#include "tests/crypto/test_support.h"
#include "tests/support/allocation_hook.h"

namespace {
long gAllocations = 0;

bool countAllocation(std::size_t) {
    ++gAllocations;
    return true;
}

using testsupport::keyFromHex;

const ElAES::Key kKey = keyFromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

// Runs f and returns the number of allocations that it made.
template <typename F>
long allocationsDuring(F&& f) {
    const long before = gAllocations;
    allocation_hook::allow = countAllocation;
    f();
    allocation_hook::allow = nullptr;
    return gAllocations - before;
}

// The counter sees the allocations of this program: a string too long for
// the in-object buffer, and a vector.
TEST(NoAllocation, CounterSeesAllocations) {
    const long n = allocationsDuring([] {
        std::string s(200, 'x');
        ElAES::MemoryStream grows;
        grows.Write(s.data(), s.size());
    });
    EXPECT_GE(n, 2);
}

TEST(NoAllocation, SchedulesAndBlocks) {
    ElAES::Block block{};
    const long n = allocationsDuring([&] {
        ElAES::Schedule encryption;
        ElAES::Schedule decryption;
        ElAES::buildEncryptionSchedule(kKey, encryption);
        ElAES::buildDecryptionSchedule(kKey, decryption);
        for (int i = 0; i < 100; ++i) {
            ElAES::encryptBlock(block, encryption, block);
            ElAES::decryptBlock(block, decryption, block);
        }
    });
    EXPECT_EQ(n, 0);
}

class NoAllocationStreams : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NoAllocationStreams, EncryptAndDecrypt) {
    const std::size_t size = GetParam();
    ElAES::MemoryStream plain(std::string(size, 'p'));
    const std::size_t cipherSize = (size + 15) / 16 * 16;
    ElAES::MemoryStream cipher;
    cipher.reserve(cipherSize);
    ElAES::MemoryStream back;
    back.reserve(cipherSize);
    ElAES::MemoryStream again;
    again.reserve(cipherSize);
    ElAES::Schedule encryption;
    ElAES::buildEncryptionSchedule(kKey, encryption);

    const long encrypting = allocationsDuring([&] {
        ElAES::encryptStream(plain, 0, kKey, cipher);
    });
    EXPECT_EQ(encrypting, 0);
    ASSERT_EQ(cipher.Size(), cipherSize);

    const long decrypting = allocationsDuring([&] {
        ElAES::decryptStream(cipher, 0, kKey, back);
    });
    EXPECT_EQ(decrypting, 0);
    EXPECT_EQ(back.bytes().substr(0, size), std::string(size, 'p'));

    const long withSchedule = allocationsDuring([&] {
        plain.SetPosition(0);
        ElAES::encryptStreamWithSchedule(plain, static_cast<std::uint32_t>(size), encryption, again);
    });
    EXPECT_EQ(withSchedule, 0);
    EXPECT_EQ(again.bytes(), cipher.bytes());
}

INSTANTIATE_TEST_SUITE_P(Sizes, NoAllocationStreams, ::testing::Values(0u, 1u, 15u, 16u, 17u, 100u, 4096u));

}  // namespace
