// Wiping key material: the bytes asked for and no others, on every way out of
// a scope, in a key block's own destructor, and over a string's whole buffer.
// Storage is inspected only where the test owns it: an array the object was
// constructed in, or memory handed out by the test's own allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/wipe.h"

namespace {

bool allZero(const unsigned char* bytes, std::size_t size) {
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

bool holds(const unsigned char* bytes, std::size_t size, const void* pattern, std::size_t patternSize) {
    const auto* p = static_cast<const unsigned char*>(pattern);
    return std::search(bytes, bytes + size, p, p + patternSize) != bytes + size;
}

TEST(Wipe, ZeroesTheRangeAndNothingAround) {
    for (const std::size_t size : {0u, 1u, 15u, 16u, 32u, 33u, 256u, 1000u}) {
        std::vector<unsigned char> memory(size + 16, 0xA5);
        ElAES::wipe(memory.data() + 8, size);
        EXPECT_TRUE(allZero(memory.data() + 8, size)) << size;
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(memory[i], 0xA5) << size << " before, at " << i;
            EXPECT_EQ(memory[8 + size + i], 0xA5) << size << " after, at " << i;
        }
    }
}

TEST(Wipe, TheGuardWipesOnReturnAndOnException) {
    ElAES::Schedule schedule;
    ElAES::Block block;
    std::memset(&schedule, 0x5C, sizeof schedule);
    std::memset(&block, 0x3A, sizeof block);
    try {
        const ElAES::WipeOnExit wipeSchedule(schedule);
        const ElAES::WipeOnExit wipeBlock(block);
        throw std::runtime_error("a stream failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(allZero(reinterpret_cast<const unsigned char*>(&schedule), sizeof schedule));
    EXPECT_TRUE(allZero(block.data(), block.size()));

    std::memset(&block, 0x3A, sizeof block);
    { const ElAES::WipeOnExit wipeBlock(block); }
    EXPECT_TRUE(allZero(block.data(), block.size()));
}

const ElAES::Key someKey = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                            0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                            0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};

TEST(SecretKey, IsTheKeysBytesAndWipesThemWhenDestroyed) {
    // The key constructed in storage the test owns, read back after it ends.
    alignas(ElAES::SecretKey) unsigned char storage[sizeof(ElAES::SecretKey)];
    auto* key = new (storage) ElAES::SecretKey(someKey);
    EXPECT_EQ(std::memcmp(storage, someKey.data(), someKey.size()), 0) << "the same 32 bytes, in order";
    const ElAES::Key& asKey = *key;
    EXPECT_EQ(asKey, someKey);

    // A copy is a key of its own, wiped on its own.
    alignas(ElAES::SecretKey) unsigned char copyStorage[sizeof(ElAES::SecretKey)];
    auto* copy = new (copyStorage) ElAES::SecretKey(*key);
    key->~SecretKey();
    EXPECT_TRUE(allZero(storage, sizeof storage));
    EXPECT_EQ(std::memcmp(copyStorage, someKey.data(), someKey.size()), 0);
    copy->~SecretKey();
    EXPECT_TRUE(allZero(copyStorage, sizeof copyStorage));
}

// Hands out memory and, when it is given back, notes whether it still held
// the secret: what the string's buffer held at the very end.
template <typename T>
struct CheckingAllocator {
    using value_type = T;
    static inline std::vector<unsigned char> secret;
    static inline int freedWithSecret = 0;
    static inline int freed = 0;

    CheckingAllocator() = default;
    template <typename U>
    CheckingAllocator(const CheckingAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) {
        ++freed;
        if (holds(reinterpret_cast<const unsigned char*>(p), n * sizeof(T), secret.data(), secret.size())) {
            ++freedWithSecret;
        }
        ::operator delete(p);
    }
    template <typename U>
    bool operator==(const CheckingAllocator<U>&) const { return true; }
    template <typename U>
    bool operator!=(const CheckingAllocator<U>&) const { return false; }
};

using CheckedText = std::basic_string<char16_t, std::char_traits<char16_t>, CheckingAllocator<char16_t>>;

TEST(Wipe, AStringsWholeBufferUpToItsCapacity) {
    // Any part of it left over counts: here its end, which a shorter text
    // written over its start leaves in place.
    const std::u16string remnant = u"battery staple";
    CheckingAllocator<char16_t>::secret.assign(reinterpret_cast<const unsigned char*>(remnant.data()),
                                               reinterpret_cast<const unsigned char*>(remnant.data()) +
                                                   remnant.size() * 2);
    struct Case {
        const char* name;
        void (*fill)(CheckedText&);
    } const cases[] = {
        {"as typed", [](CheckedText& t) { t.assign(u"correct horse battery staple"); }},
        // The secret now lies beyond the string's length, within its capacity.
        {"overwritten by a shorter text",
         [](CheckedText& t) {
             t.assign(u"correct horse battery staple");
             t.assign(u"short");
         }},
        {"cleared", [](CheckedText& t) {
             t.assign(u"correct horse battery staple");
             t.clear();
         }},
    };
    for (const Case& c : cases) {
        CheckingAllocator<char16_t>::freed = 0;
        CheckingAllocator<char16_t>::freedWithSecret = 0;
        {
            CheckedText text;
            const ElAES::WipeOnExit wipeText(text);
            c.fill(text);
        }
        EXPECT_EQ(CheckingAllocator<char16_t>::freed, 1) << c.name;
        EXPECT_EQ(CheckingAllocator<char16_t>::freedWithSecret, 0) << c.name;
    }
}

TEST(Wipe, AShortStringInsideItsOwnObject) {
    // Short texts live in the string object itself, not on the heap.
    const std::u16string secret = u"pw12";
    alignas(std::u16string) unsigned char storage[sizeof(std::u16string)];
    auto* text = new (storage) std::u16string(secret);
    ASSERT_TRUE(holds(storage, sizeof storage, secret.data(), secret.size() * 2)) << "kept in the object";
    ElAES::wipe(*text);
    EXPECT_TRUE(text->empty());
    text->~basic_string();
    EXPECT_FALSE(holds(storage, sizeof storage, secret.data(), secret.size() * 2));
}

}  // namespace
