// The plug-in library loaded above 4 GB, as in a messenger whose low memory
// is crowded (the reference messenger's --occupy-base): the button must still call
// back through the 32 bits of the add-button command.
#include <gtest/gtest.h>

#include "tests/support/messenger_process.h"
#include "tests/support/test_messenger.h"

using test_messenger::TempFolder;
using namespace messenger_process;

TEST(RelocatedPlugin, TheButtonCallsBackThroughTheAddressGiven) {
    TempFolder folder;
    const auto lines = runMessenger("init " + folder.hostPath() + "\nbutton 0\nbutton 0\nfinalise\n", 0, "--occupy-base");
    const auto loaded = ofType(lines, "plugin");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_GE(std::stoull(loaded[0]["base"], nullptr, 16), 0x100000000ull);

    const auto commands = ofType(lines, "command");
    ASSERT_EQ(commands.size(), 4u) << lines.size() << " lines";
    EXPECT_EQ(commands[0]["name"], "add-button");
    const auto procedure = std::stoull(commands[0]["procedure"], nullptr, 16);
    EXPECT_GT(procedure, 0u);
    EXPECT_LT(procedure, 0x80000000u) << "a positive 32-bit number";
    EXPECT_EQ(commands[1]["icon_name"], "ZEV_CRYPT");
    EXPECT_EQ(commands[2]["icon_name"], "ZEV");
    EXPECT_EQ(commands[3]["name"], "remove-button");
    EXPECT_TRUE(ofType(lines, "message_box").empty());
}
