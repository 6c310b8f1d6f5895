// The button procedure's address as the host calls it: through a jump below
// 2 GB when its own address does not do, and no button at all when neither
// can be had (platform::reachableIn32Bits, made to answer so by the
// platform layer's test seams).
#include <gtest/gtest.h>

#include "host/plugin.h"
#include "platform/test_seams.h"
#include "settings/setpassform.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using test_messenger::TestMessenger;
using test_messenger::TempFolder;
using testing_records::readInt32;

namespace {

// The seam set for one test, and back to the plug-in's own behaviour after it.
struct SeamMode {
    explicit SeamMode(platform::seams::CodeAddresses mode) { platform::seams::setCodeAddresses(mode); }
    ~SeamMode() { platform::seams::setCodeAddresses(platform::seams::CodeAddresses::AsLoaded); }
};

unsigned codeOf(const std::string& command) { return static_cast<unsigned char>(command.at(5)); }

TEST(ButtonSeam, TheHostTogglesTheSwitchThroughTheJump) {
    const SeamMode mode(platform::seams::CodeAddresses::ThroughJump);
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
    const SeamMode mode(platform::seams::CodeAddresses::Unavailable);
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
