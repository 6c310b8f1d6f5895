// Wiping key material, read back only from storage the test owns: an array an
// object was built in, or memory the test's own allocator handed out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "crypto/wipe.h"

namespace {

bool allZero(const void* memory, std::size_t size) {
    // The bytes are read after the object in them has been destroyed, which
    // the optimiser takes as leaving them undefined. The empty assembly tells
    // it that anything may have written them since, so they are read as the
    // destructor left them (and GCC no longer warns of a read of bytes that
    // were never set).
    asm volatile("" : : "r"(memory) : "memory");
    const auto* bytes = static_cast<const unsigned char*>(memory);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

TEST(Wipe, TheGuardWipesOnAnException) {
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
    EXPECT_TRUE(allZero(&schedule, sizeof schedule));
    EXPECT_TRUE(allZero(&block, sizeof block));
}

TEST(SecretKey, IsTheKeysBytesAndWipesThemWhenDestroyed) {
    ElAES::Key key;
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0xA0 + i);
    // Filled first, so that zeros found later can only be the wipe's.
    alignas(ElAES::SecretKey) unsigned char storage[sizeof(ElAES::SecretKey)];
    alignas(ElAES::SecretKey) unsigned char copyStorage[sizeof(ElAES::SecretKey)];
    std::memset(storage, 0xEE, sizeof storage);
    std::memset(copyStorage, 0xEE, sizeof copyStorage);
    auto* secret = new (storage) ElAES::SecretKey(key);
    EXPECT_EQ(std::memcmp(storage, key.data(), key.size()), 0) << "the same 32 bytes, in order";
    auto* copy = new (copyStorage) ElAES::SecretKey(*secret);
    // A plain memset here would be a dead store, dropped by the optimiser.
    secret->~SecretKey();
    EXPECT_TRUE(allZero(storage, sizeof storage));
    EXPECT_EQ(std::memcmp(copyStorage, key.data(), key.size()), 0) << "a copy is wiped on its own";
    copy->~SecretKey();
    EXPECT_TRUE(allZero(copyStorage, sizeof copyStorage));
}

// Notes, as each buffer comes back, whether it still holds the remnant.
const std::u16string remnant = u"battery staple";
int freedWithRemnant = 0;

template <typename T>
struct CheckingAllocator {
    using value_type = T;
    CheckingAllocator() = default;
    template <typename U>
    CheckingAllocator(const CheckingAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) {
        const auto* r = reinterpret_cast<const char16_t*>(remnant.data());
        if (std::search(p, p + n, r, r + remnant.size()) != p + n) ++freedWithRemnant;
        ::operator delete(p);
    }
    template <typename U>
    bool operator==(const CheckingAllocator<U>&) const { return true; }
    template <typename U>
    bool operator!=(const CheckingAllocator<U>&) const { return false; }
};

TEST(Wipe, AStringsWholeBufferUpToItsCapacity) {
    using Text = std::basic_string<char16_t, std::char_traits<char16_t>, CheckingAllocator<char16_t>>;
    // Both leave the password's end beyond the string's length.
    const std::u16string laterContents[] = {u"short", u""};
    for (const std::u16string& later : laterContents) {
        freedWithRemnant = 0;
        {
            Text text;
            const ElAES::WipeOnExit wipeText(text);
            text.assign(u"correct horse battery staple");
            text.assign(later.begin(), later.end());
        }
        EXPECT_EQ(freedWithRemnant, 0) << later.size() << " units written over it";
    }
}

}  // namespace
