// The button procedure's address as the host calls it: itself when it fits
// the add-button command's 32 bits, a jump below 2 GB when it does not, and
// no button at all when neither can be had.
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
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using test_messenger::TestMessenger;
using test_messenger::TempFolder;
using testing_records::readInt32;

namespace {

// What the host does with the 32 bits it is given.
host::ButtonProcedure asTheHostCallsIt(const void* address) {
    const auto low = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu);
    return reinterpret_cast<host::ButtonProcedure>(static_cast<std::intptr_t>(low));
}

std::int32_t lastCode = -1;
void recordCode(std::int32_t code) { lastCode = code; }

// A procedure whose address does not fit: movabs rax, target; jmp rax, placed
// above 4 GB. Null where no such memory is had.
host::ButtonProcedure highJumpTo(host::ButtonProcedure target) {
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
    return reinterpret_cast<host::ButtonProcedure>(memory);
}

TEST(ButtonAddress, WhatSurvivesTheHostsSignExtension) {
    const std::pair<std::uint64_t, bool> cases[] = {
        {0x401000, true},          {0x7FFFFFFF, true},          {0x80000000, false},
        {0xFFFFFFFF, false},       {0x100401000ull, false},     {0x7F3A12345678ull, false},
        {0xFFFFFFFF80000000ull, true}, {0xFFFFFFFF7FFFFFFFull, false},
    };
    for (const auto& [address, survives] : cases) {
        EXPECT_EQ(host::survivesThe32BitTrip(static_cast<std::uintptr_t>(address)), survives) << std::hex << address;
    }
}

TEST(ButtonAddress, AProcedureAbove4GBIsReachedThroughAJumpBelow2GB) {
    const host::ButtonProcedure high = highJumpTo(&recordCode);
    if (!high) GTEST_SKIP() << "no memory above 4 GB in this process";
    const void* given = host::hostCallableAddress(high);
    ASSERT_NE(given, nullptr);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(given), 0x80000000u);
    asTheHostCallsIt(given)(41);
    EXPECT_EQ(lastCode, 41);
    // Made once, and given again.
    EXPECT_EQ(host::hostCallableAddress(high), given);
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
    TestMessenger plugin;
    plugin.initialise(folder.hostPath());
    ASSERT_EQ(plugin.commands.size(), 1u);
    ASSERT_EQ(codeOf(plugin.commands[0]), 0xC9u);
    const std::int32_t carried = readInt32(plugin.commands[0].data(), 6);
    EXPECT_GT(carried, 0);
    EXPECT_NE(static_cast<std::uintptr_t>(carried), reinterpret_cast<std::uintptr_t>(&host::toolbarButtonProc));

    plugin.button(0);  // through the 32 bits the command carried
    ASSERT_EQ(plugin.commands.size(), 2u);
    EXPECT_EQ(codeOf(plugin.commands[1]), 0xCAu);
    EXPECT_TRUE(setpassform::encryptionSwitch);
}

TEST(ButtonSeam, WithoutAnAddressThereIsNoButtonAndTheUserIsTold) {
    const SeamMode mode(host::seams::ButtonAddress::Unavailable);
    TempFolder folder;
    folder.write("Mistlock.ini", "on\r\npass_check\r\n\r\n\r\n");
    TestMessenger plugin;
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr) << "the title is still given";
    EXPECT_TRUE(plugin.commands.empty());
    EXPECT_EQ(host::buttonId(), 0);
    EXPECT_TRUE(setpassform::encryptionSwitch) << "as saved";
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
    EXPECT_EQ(plugin.boxes.boxes()[0].text,
              u"The toolbar button cannot be added: the plug-in was loaded at an address the messenger cannot "
              u"call.\r\nEncryption follows the saved switch, which is on.");
    EXPECT_EQ(plugin.boxes.boxes()[0].caption, u"Mistlock 0.45");
    plugin.finalise();
    EXPECT_TRUE(plugin.commands.empty()) << "no button to remove";
}

}  // namespace
