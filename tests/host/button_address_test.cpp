// The button procedure's address as the host calls it: itself when its
// address fits the add-button command's 32 bits, a jump below 2 GB when it
// does not, and no button at all when neither can be had.
#include <gtest/gtest.h>

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "host/button_address.h"
#include "host/plugin.h"
#include "settings/setpassform.h"
#include "tests/support/plugin_harness.h"
#include "tests/support/records.h"

using testing_host::PluginHarness;
using testing_host::TempFolder;
using testing_records::readInt32;

namespace {

// What the host does with the 32 bits it is given.
host::ButtonProcedure asTheHostCallsIt(const void* address) {
    const auto low = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu);
    return reinterpret_cast<host::ButtonProcedure>(static_cast<std::intptr_t>(low));
}

std::int32_t lastCode = -1;
void recordCode(std::int32_t code) { lastCode = code; }
std::int32_t otherCode = -1;
void recordOtherCode(std::int32_t code) { otherCode = code; }

// A procedure whose address does not fit 32 bits: a jump to `target` placed
// above 4 GB (movabs rax, target; jmp rax). Null where no such memory is had.
host::ButtonProcedure highJumpTo(host::ButtonProcedure target) {
    unsigned char code[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};
    const auto address = reinterpret_cast<std::uintptr_t>(target);
    for (int i = 0; i < 8; ++i) code[2 + i] = static_cast<unsigned char>(static_cast<std::uint64_t>(address) >> (8 * i));
    void* memory = nullptr;
#if defined(_WIN32)
    for (std::uintptr_t at = 0x100000000ull; at <= 0x7F0000000000ull && !memory; at *= 4) {
        memory = VirtualAlloc(reinterpret_cast<void*>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    }
    if (!memory) return nullptr;
    std::memcpy(memory, code, sizeof code);
    DWORD previous = 0;
    VirtualProtect(memory, 4096, PAGE_EXECUTE_READ, &previous);
    FlushInstructionCache(GetCurrentProcess(), memory, 4096);
#else
    memory = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED || reinterpret_cast<std::uintptr_t>(memory) < 0x100000000ull) return nullptr;
    std::memcpy(memory, code, sizeof code);
    mprotect(memory, 4096, PROT_READ | PROT_EXEC);
#endif
    return reinterpret_cast<host::ButtonProcedure>(memory);
}

TEST(ButtonAddress, WhatSurvivesTheHostsSignExtension) {
    struct Case {
        std::uint64_t address;
        bool survives;
    } const cases[] = {
        {0x0000000000401000ull, true},  {0x000000007FFFFFFFull, true},  {0x0000000080000000ull, false},
        {0x00000000FFFFFFFFull, false}, {0x0000000100000000ull, false}, {0x0000000100401000ull, false},
        {0x00007F3A12345678ull, false}, {0xFFFFFFFF80000000ull, true},  {0xFFFFFFFF7FFFFFFFull, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host::survivesThe32BitTrip(static_cast<std::uintptr_t>(c.address)), c.survives)
            << std::hex << c.address;
    }
}

TEST(ButtonAddress, AProcedureThatFitsIsGivenAsItIs) {
    // The test program sits low, as the messenger's plug-ins are meant to.
    EXPECT_EQ(host::hostCallableAddress(&recordCode), reinterpret_cast<const void*>(&recordCode));
}

TEST(ButtonAddress, AProcedureAbove4GBIsReachedThroughAJumpBelow2GB) {
    const host::ButtonProcedure high = highJumpTo(&recordCode);
    if (!high) GTEST_SKIP() << "no memory above 4 GB in this process";
    ASSERT_FALSE(host::survivesThe32BitTrip(reinterpret_cast<std::uintptr_t>(high)));

    const void* given = host::hostCallableAddress(high);
    ASSERT_NE(given, nullptr);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(given), 0x80000000u);
    lastCode = -1;
    asTheHostCallsIt(given)(41);
    EXPECT_EQ(lastCode, 41);

    // Made once: the same jump every time, and it still works.
    EXPECT_EQ(host::hostCallableAddress(high), given);
    asTheHostCallsIt(given)(-7);
    EXPECT_EQ(lastCode, -7);

    // Another procedure has a jump of its own.
    const host::ButtonProcedure otherHigh = highJumpTo(&recordOtherCode);
    ASSERT_NE(otherHigh, nullptr);
    const void* other = host::hostCallableAddress(otherHigh);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, given);
    asTheHostCallsIt(other)(5);
    EXPECT_EQ(otherCode, 5);
    EXPECT_EQ(lastCode, -7);
}

// The seam set for one test, and back to the plug-in's own behaviour after it.
struct SeamMode {
    explicit SeamMode(host::seams::ButtonAddress mode) { host::seams::setButtonAddress(mode); }
    ~SeamMode() { host::seams::setButtonAddress(host::seams::ButtonAddress::AsLoaded); }
};

unsigned codeOf(const std::string& command) { return static_cast<unsigned char>(command.at(5)); }

TEST(ButtonSeam, TheHostTogglesTheSwitchThroughTheJump) {
    const SeamMode mode(host::seams::ButtonAddress::ThroughJump);
    TempFolder folder;
    PluginHarness plugin;
    plugin.initialise(folder.hostPath());
    ASSERT_EQ(plugin.commands.size(), 1u);
    ASSERT_EQ(codeOf(plugin.commands[0]), 0xC9u);
    const std::int32_t carried = readInt32(plugin.commands[0].data(), 6);
    EXPECT_GT(carried, 0);
    EXPECT_NE(static_cast<std::uintptr_t>(carried), reinterpret_cast<std::uintptr_t>(&host::toolbarButtonProc));

    plugin.button(0);  // through the 32 bits the command carried
    ASSERT_EQ(plugin.commands.size(), 2u);
    EXPECT_EQ(codeOf(plugin.commands[1]), 0xCAu);
    EXPECT_EQ(readInt32(plugin.commands[1].data(), 6), 7);
    EXPECT_TRUE(setpassform::encryptionSwitch);
    plugin.button(0);
    EXPECT_FALSE(setpassform::encryptionSwitch);
    EXPECT_EQ(plugin.commands.size(), 3u);
}

TEST(ButtonSeam, WithoutAnAddressThereIsNoButtonAndTheUserIsTold) {
    struct Case {
        const char* settings;
        bool on;
        const char16_t* text;
    } const cases[] = {
        {"on\r\npass_check\r\n\r\n\r\n", true,
         u"The toolbar button cannot be added: the plug-in was loaded at an address the messenger cannot "
         u"call.\r\nEncryption follows the saved switch, which is on."},
        {"off\r\npass_check\r\n\r\n\r\n", false,
         u"The toolbar button cannot be added: the plug-in was loaded at an address the messenger cannot "
         u"call.\r\nEncryption follows the saved switch, which is off."},
    };
    const SeamMode mode(host::seams::ButtonAddress::Unavailable);
    for (const Case& c : cases) {
        TempFolder f;
        f.write("Mistlock.ini", c.settings);
        PluginHarness p;
        const void* reply = p.initialise(f.hostPath());
        ASSERT_NE(reply, nullptr) << "the title is still given";
        EXPECT_TRUE(p.commands.empty());
        EXPECT_EQ(host::buttonId(), 0);
        EXPECT_EQ(setpassform::encryptionSwitch, c.on);
        ASSERT_EQ(p.boxes.boxes().size(), 1u);
        EXPECT_EQ(p.boxes.boxes()[0].text, c.text);
        EXPECT_EQ(p.boxes.boxes()[0].caption, u"Mistlock 0.45");
        EXPECT_FALSE(p.boxes.boxes()[0].error);
        p.finalise();
        EXPECT_TRUE(p.commands.empty()) << "no button to remove";
    }
}

}  // namespace
