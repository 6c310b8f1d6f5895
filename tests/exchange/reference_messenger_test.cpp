// The reference messenger as an outside program: it loads the plug-in library,
// gets the title, receives the add-button command, calls the button procedure
// back through the 32-bit address it was given, and reports what the user sees.
#include <gtest/gtest.h>

#include "tests/support/messenger_process.h"
#include "tests/support/test_messenger.h"

using test_messenger::TempFolder;
using namespace messenger_process;

namespace {

std::string script(std::initializer_list<std::string> lines) {
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    return out;
}

TEST(ReferenceMessenger, LoadsThePluginAndTogglesTheIconThroughTheButtonProcedure) {
    TempFolder folder;
    const auto lines = runMessenger(script({"init " + folder.hostPath(), "button 0", "button 0", "finalise"}), testCodePage());
    const auto commands = ofType(lines, "command");
    const auto replies = ofType(lines, "reply");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0]["name"], "add-button");
    EXPECT_EQ(commands[0]["icon_name"], "ZEV");
    EXPECT_EQ(commands[0]["title"], "Mistlock 0.45");
    // The procedure's address fits in 32 bits and, called back, switches the icon.
    EXPECT_EQ(commands[1]["name"], "update-button");
    EXPECT_EQ(commands[1]["icon_name"], "ZEV_CRYPT");
    EXPECT_NE(commands[1]["icon"], commands[0]["icon"]);
    EXPECT_EQ(commands[1]["button_id"], commands[0]["button_id"]);
    EXPECT_EQ(commands[2]["icon_name"], "ZEV");
    EXPECT_EQ(commands[2]["icon"], commands[0]["icon"]);
    EXPECT_EQ(commands[3]["name"], "remove-button");

    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0]["hex"], "16000000020D0000004D6973746C6F636B20302E343506000000");
    EXPECT_EQ(replies[0]["title"], "Mistlock 0.45");
    EXPECT_EQ(replies[1]["kind"], "null");
    // Two toggles saved the settings; the switch is off again.
    EXPECT_EQ(folder.read("Mistlock.ini").substr(0, 5), "off\r\n");
}

TEST(ReferenceMessenger, ReportsTheAboutBoxAndIgnoresMalformedRecords) {
    TempFolder folder;
    const auto lines = runMessenger(script({"raw 0000000003", "init " + folder.hostPath(), "about", "button 2",
                                       "raw 000000000303", "raw 0200000002030000", "raw 0A000000030700000000000000000500",
                                       "finalise"}),
                               testCodePage());
    const auto boxes = ofType(lines, "message_box");
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box["caption"], "О плагине");
        EXPECT_NE(box["text"].find("Mistlock 0.45"), std::string::npos);
    }
    for (const auto& reply : ofType(lines, "reply")) {
        if (reply["event"] == "raw") {
            EXPECT_EQ(reply["kind"], "null") << reply.raw;
        }
    }
}

TEST(ReferenceMessenger, SettingsFileTurnsTheSwitchOnAtStart) {
    TempFolder folder;
    folder.write("Mistlock.ini", "on\r\npass_check\r\n\r\n\r\n");
    const auto commands = ofType(runMessenger(script({"init " + folder.hostPath(), "finalise"}), testCodePage()), "command");
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0]["icon_name"], "ZEV_CRYPT");
}

}  // namespace
