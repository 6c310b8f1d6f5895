// Code addresses for a caller that carries them in 32 bits: the address itself
// when it fits, a jump below 2 GB when it does not.
#include <gtest/gtest.h>

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "platform/platform.h"

namespace {

// What the host does with the 32 bits it is given.
platform::Procedure32 asTheHostCallsIt(const void* address) {
    const auto low = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu);
    return reinterpret_cast<platform::Procedure32>(static_cast<std::intptr_t>(low));
}

std::int32_t lastCode = -1;
void recordCode(std::int32_t code) { lastCode = code; }

// A procedure whose address does not fit: movabs rax, target; jmp rax, placed
// above 4 GB. Null where no such memory is had.
platform::Procedure32 highJumpTo(platform::Procedure32 target) {
    unsigned char code[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(target));
    for (int i = 0; i < 8; ++i) code[2 + i] = static_cast<unsigned char>(address >> (8 * i));
#if defined(_WIN32)
    void* memory = nullptr;
    for (std::uint64_t at = 0x100000000ull; at <= 0x7F0000000000ull && !memory; at *= 4) {
        memory = VirtualAlloc(reinterpret_cast<void*>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    }
    if (!memory) return nullptr;
#else
    void* memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED || reinterpret_cast<std::uintptr_t>(memory) < 0x100000000ull) return nullptr;
#endif
    std::memcpy(memory, code, sizeof code);
    return reinterpret_cast<platform::Procedure32>(memory);
}

TEST(CodeAddresses, WhatSurvivesTheHostsSignExtension) {
    const std::pair<std::uint64_t, bool> cases[] = {
        {0x401000, true},          {0x7FFFFFFF, true},          {0x80000000, false},
        {0xFFFFFFFF, false},       {0x100401000ull, false},     {0x7F3A12345678ull, false},
        {0xFFFFFFFF80000000ull, true}, {0xFFFFFFFF7FFFFFFFull, false},
    };
    for (const auto& [address, survives] : cases) {
        EXPECT_EQ(platform::survivesThe32BitTrip(static_cast<std::uintptr_t>(address)), survives) << std::hex << address;
    }
}

TEST(CodeAddresses, AProcedureAbove4GBIsReachedThroughAJumpBelow2GB) {
    const platform::Procedure32 high = highJumpTo(&recordCode);
    if (!high) GTEST_SKIP() << "no memory above 4 GB in this process";
    const void* given = platform::reachableIn32Bits(high);
    ASSERT_NE(given, nullptr);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(given), 0x80000000u);
    asTheHostCallsIt(given)(41);
    EXPECT_EQ(lastCode, 41);
    // Made once, and given again.
    EXPECT_EQ(platform::reachableIn32Bits(high), given);
}

}  // namespace
