// pluginFun's dispatch and lifecycle, and the toolbar button, with the test
// playing the messenger in-process.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/plugin.h"
#include "platform/platform.h"
#if !defined(_WIN32)
#include "platform/portable/headless.h"
#endif
#include "settings/setpassform.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

namespace {

const char* const kTitleReply = "16000000020D0000004D6973746C6F636B20302E343506000000";

std::string iconOf(const std::string& command) {
    const auto handle = static_cast<platform::IconHandle>(static_cast<std::uint32_t>(readInt32(command.data(), 10)));
    if (handle == (platform::loadIcon(u"ZEV") & 0xFFFFFFFFu)) return "ZEV";
    if (handle == (platform::loadIcon(u"ZEV_CRYPT") & 0xFFFFFFFFu)) return "ZEV_CRYPT";
    return "?";
}

class Dispatch : public ::testing::Test {
protected:
    TempFolder folder;
    TestMessenger plugin;
};

TEST_F(Dispatch, InitialiseRepliesWithTitleAndAddsTheButton) {
    const void* reply = plugin.initialise(folder.hostPath());
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), kTitleReply);
    ASSERT_EQ(plugin.commands.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(plugin.commands[0][5]), 0xC9);
    EXPECT_EQ(iconOf(plugin.commands[0]), "ZEV");
    EXPECT_EQ(host::buttonId(), 7);
    EXPECT_EQ(setpassform::settingsFolder, folder.hostPath() + "\\");
}

TEST_F(Dispatch, ButtonProcedureAddressCallsBack) {
    plugin.initialise(folder.hostPath());
    // The 32 bits the add-button command carried reach the real procedure.
    const std::int32_t low = readInt32(plugin.commands[0].data(), 6);
    EXPECT_EQ(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(low)),
              reinterpret_cast<std::uintptr_t>(&host::toolbarButtonProc));
    plugin.button(0);
    EXPECT_TRUE(setpassform::encryptionSwitch);
}

TEST_F(Dispatch, SettingsFolderGetsOneBackslash) {
    plugin.initialise(folder.hostPath() + "\\");
    EXPECT_EQ(setpassform::settingsFolder, folder.hostPath() + "\\");
}

// The current folder as it is at initialise: the settings stay there when the
// host changes its current folder later.
TEST_F(Dispatch, EmptySettingsPathMeansTheCurrentFolderAtInitialise) {
    const std::filesystem::path before = std::filesystem::current_path();
    TempFolder elsewhere;
    std::filesystem::current_path(folder.file(""));
    const void* reply = plugin.initialise("");
    std::filesystem::current_path(elsewhere.file(""));
    ASSERT_NE(reply, nullptr);
    plugin.button(0);
    std::filesystem::current_path(before);
    EXPECT_TRUE(folder.exists("Mistlock.ini"));
    EXPECT_FALSE(elsewhere.exists("Mistlock.ini"));
    EXPECT_EQ(setpassform::settingsFolder.back(), '\\');
}

TEST(DispatchSettingsFile, FirstLineSetsTheSwitch) {
    struct Case { const char* content; bool on; } cases[] = {
        {"on\r\npass_check\r\n\r\n\r\n", true},
        {"on", true},
        {"\xEF\xBB\xBFon\r\n", true},
        {"On\r\n", false},
        {"on \r\n", false},
        {"off\r\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        TempFolder f;
        f.write("Mistlock.ini", c.content);
        TestMessenger p;
        p.initialise(f.hostPath());
        EXPECT_EQ(setpassform::encryptionSwitch, c.on) << hex(c.content);
        EXPECT_EQ(iconOf(p.commands.at(0)), c.on ? "ZEV_CRYPT" : "ZEV") << hex(c.content);
    }
}

TEST_F(Dispatch, MissingSettingsFileLeavesTheSwitchOff) {
    plugin.initialise(folder.hostPath());
    EXPECT_FALSE(setpassform::encryptionSwitch);
}

TEST_F(Dispatch, ToggleTwiceRestoresSwitchAndIconAndSavesEachTime) {
    plugin.initialise(folder.hostPath());
    plugin.button(0);
    ASSERT_EQ(plugin.commands.size(), 2u);
    EXPECT_EQ(hex(plugin.commands[1].substr(4, 6)), "05CA07000000");
    EXPECT_EQ(iconOf(plugin.commands[1]), "ZEV_CRYPT");
    EXPECT_EQ(folder.read("Mistlock.ini").substr(0, 4), "on\r\n");
    EXPECT_TRUE(folder.exists("MistlockWho.ini"));

    plugin.button(0);
    ASSERT_EQ(plugin.commands.size(), 3u);
    EXPECT_EQ(iconOf(plugin.commands[2]), "ZEV");
    EXPECT_FALSE(setpassform::encryptionSwitch);
    EXPECT_EQ(folder.read("Mistlock.ini").substr(0, 5), "off\r\n");
}

TEST_F(Dispatch, FinaliseRemovesTheButton) {
    plugin.initialise(folder.hostPath());
    EXPECT_EQ(plugin.finalise(), nullptr);
    ASSERT_EQ(plugin.commands.size(), 2u);
    EXPECT_EQ(hex(plugin.commands[1]), "0600000005CB07000000");
    EXPECT_EQ(host::buttonId(), 0);
    EXPECT_EQ(setpassform::setpass, nullptr);
    EXPECT_FALSE(folder.exists("Mistlock.ini")) << "finalise must not save";
}

TEST_F(Dispatch, FinaliseWithoutAButtonSendsNothing) {
    plugin.nextButtonId = 0;
    plugin.initialise(folder.hostPath());
    plugin.finalise();
    EXPECT_EQ(plugin.commands.size(), 1u);
}

TEST_F(Dispatch, NullHostReplyToAddButtonMeansNoButton) {
    plugin.answerNull = true;
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    EXPECT_EQ(host::buttonId(), 0);
    plugin.finalise();
    EXPECT_EQ(plugin.commands.size(), 1u);
}

TEST_F(Dispatch, AboutShowsTheTitleInABox) {
    plugin.initialise(folder.hostPath());
    EXPECT_EQ(plugin.call(event(3)), nullptr);
    plugin.button(2);
    ASSERT_EQ(plugin.boxes.boxes().size(), 2u);
    for (const auto& box : plugin.boxes.boxes()) {
        EXPECT_EQ(box.caption, u"О плагине");
        EXPECT_NE(box.text.find(u"Mistlock 0.45"), std::u16string::npos);
        EXPECT_FALSE(box.error);
    }
}

TEST_F(Dispatch, OtherButtonCodesDoNothing) {
    plugin.initialise(folder.hostPath());
    plugin.button(3);
    plugin.button(-1);
    EXPECT_EQ(plugin.commands.size(), 1u);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
    EXPECT_FALSE(folder.exists("Mistlock.ini"));
}

TEST_F(Dispatch, MalformedRecordsGetNoReplyAndChangeNothing) {
    plugin.initialise(folder.hostPath());
    const std::string records[] = {
        unhex("000000000303"),                // length 0
        unhex("020000000203"),                // kind 2
        event(0), event(4), event(5), event(8),
        unhex("0100000003"),                  // no event code
        messageToSend(1, "abc").substr(0, 10) + std::string(8, '\0'),
    };
    for (const auto& record : records) {
        const std::size_t before = plugin.commands.size();
        EXPECT_EQ(plugin.call(record), nullptr) << hex(record);
        EXPECT_EQ(plugin.commands.size(), before);
    }
    EXPECT_EQ(pluginFun(nullptr), nullptr);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
}

TEST_F(Dispatch, TruncatedInitialiseIsIgnored) {
    std::string record = initialise(reinterpret_cast<const void*>(&TestMessenger::callback), folder.hostPath());
    record.replace(0, 4, int32(static_cast<std::int32_t>(record.size()) - 4 - 2));  // the last integer cut short
    EXPECT_EQ(plugin.call(record), nullptr);
    EXPECT_FALSE(host::initialised());
    EXPECT_TRUE(plugin.commands.empty());
}

TEST_F(Dispatch, EventsBeforeInitialiseAndAfterFinaliseAreIgnored) {
    EXPECT_EQ(plugin.call(event(3)), nullptr);
    EXPECT_EQ(plugin.call(event(2)), nullptr);
    EXPECT_EQ(plugin.call(messageReceived("#MSTLK:00")), nullptr);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
    host::toolbarButtonProc(0);
    host::toolbarButtonProc(1);
    EXPECT_FALSE(setpassform::encryptionSwitch);
    EXPECT_TRUE(plugin.commands.empty());

    plugin.initialise(folder.hostPath());
    plugin.finalise();
    const std::size_t afterFinalise = plugin.commands.size();
    EXPECT_EQ(plugin.call(event(3)), nullptr);
    host::toolbarButtonProc(0);
    host::toolbarButtonProc(2);
    EXPECT_EQ(plugin.commands.size(), afterFinalise);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
    EXPECT_FALSE(folder.exists("Mistlock.ini"));
}

TEST_F(Dispatch, SecondInitialiseIsIgnoredAndInitialiseAfterFinaliseWorks) {
    plugin.initialise(folder.hostPath());
    TempFolder other;
    EXPECT_EQ(plugin.initialise(other.hostPath()), nullptr);
    EXPECT_EQ(setpassform::settingsFolder, folder.hostPath() + "\\");
    EXPECT_EQ(plugin.commands.size(), 1u);

    plugin.finalise();
    plugin.nextButtonId = 8;
    const void* reply = plugin.initialise(other.hostPath());
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), kTitleReply);
    EXPECT_EQ(host::buttonId(), 8);
    EXPECT_EQ(setpassform::settingsFolder, other.hostPath() + "\\");
}

#if !defined(_WIN32)
// The dialog (391 x 271 outside) centred on the foreground window's monitor,
// wherever that monitor lies; each half is truncated on its own.
TEST_F(Dispatch, SettingsDialogIsCentredOnTheForegroundMonitor) {
    struct Case {
        platform::MonitorBounds monitor;
        int left, top;
    } const cases[] = {
        {{-1920, 0, 1920, 1080}, -1155, 405},  // left of the primary monitor
        {{0, 0, 1280, 1024}, 445, 377},
        {{1280, -200, 1024, 768}, 1597, 49},   // right of it and higher
        {{-1921, 1, 1921, 1081}, -1156, 406},  // odd sizes
    };
    plugin.initialise(folder.hostPath());
    for (const Case& c : cases) {
        platform::headless::setMonitorBounds(c.monitor);
        plugin.button(1);
        EXPECT_EQ(setpassform::setpass->left(), c.left) << c.monitor.left;
        EXPECT_EQ(setpassform::setpass->top(), c.top) << c.monitor.left;
    }
    platform::headless::setMonitorBounds({0, 0, 1280, 1024});
}
#endif

TEST_F(Dispatch, SettingsButtonCreatesAMissingUinListAndCentresTheDialog) {
    plugin.initialise(folder.hostPath());
    ASSERT_FALSE(folder.exists("MistlockWho.ini"));
    plugin.button(1);
    EXPECT_EQ(folder.read("MistlockWho.ini"), "");
    auto& dialog = *setpassform::setpass;
    EXPECT_TRUE(dialog.visible());
    const platform::MonitorBounds m = platform::foregroundMonitorBounds();
    EXPECT_EQ(dialog.left(), m.left + m.width / 2 - dialog.width() / 2);
    EXPECT_EQ(dialog.top(), m.top + m.height / 2 - dialog.height() / 2);

    // An existing list is left as it is.
    folder.write("MistlockWho.ini", "123\r\n");
    plugin.button(1);
    EXPECT_EQ(folder.read("MistlockWho.ini"), "123\r\n");
}

}  // namespace
