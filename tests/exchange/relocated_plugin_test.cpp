// The plug-in library loaded away from its preferred base and above 4 GB, as
// in a messenger whose low memory is crowded: the reference host takes that
// memory first (--occupy-base), and the button must still call back through
// the 32 bits of the add-button command.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/host_process.h"
#include "tests/support/plugin_harness.h"

using testing_host::TempFolder;
using namespace testing_process;

namespace {

#if defined(_WIN32)
constexpr std::uint64_t preferredBase = 0x400000;
#else
constexpr std::uint64_t preferredBase = 0x10000000;
#endif

TEST(RelocatedPlugin, TheButtonCallsBackThroughTheAddressGiven) {
    TempFolder folder;
    const auto lines = runHost("init " + folder.hostPath() + "\nbutton 0\nbutton 0\nfinalise\n", 0, "--occupy-base");
    const auto loaded = ofType(lines, "plugin");
    ASSERT_EQ(loaded.size(), 1u);
    const std::uint64_t base = std::stoull(loaded[0]["base"], nullptr, 16);
    EXPECT_NE(base, preferredBase);
    // Above 4 GB, where a truncated address would crash the host.
    EXPECT_GE(base, 0x100000000ull);

    const auto commands = ofType(lines, "command");
    ASSERT_EQ(commands.size(), 4u) << lines.size() << " lines";
    EXPECT_EQ(commands[0]["name"], "add-button");
    const std::uint64_t procedure = std::stoull(commands[0]["procedure"], nullptr, 16);
    EXPECT_GT(procedure, 0u);
    EXPECT_LT(procedure, 0x80000000u) << "a positive 32-bit number";
    EXPECT_EQ(commands[1]["name"], "update-button");
    EXPECT_EQ(commands[1]["icon_name"], "ZEV_CRYPT");
    EXPECT_EQ(commands[2]["icon_name"], "ZEV");
    EXPECT_EQ(commands[3]["name"], "remove-button");
    EXPECT_TRUE(ofType(lines, "message_box").empty());
    EXPECT_EQ(folder.read("Mistlock.ini").substr(0, 5), "off\r\n");
}

}  // namespace
