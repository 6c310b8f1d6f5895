// The host calling in again from inside the plug-in's own calls to it: from
// its handling of a command record, and from inside a box the plug-in shows
// (the host's UI goes on while the box's message loop runs). Natively and
// under Wine; under AddressSanitizer nothing may be used after it was freed,
// and LeakSanitizer finds no dialog left behind.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

#include "host/plugin.h"
#include "settings/setpassform.h"
#include "tests/support/module_state.h"
#include "tests/support/records.h"
#include "tests/support/test_messenger.h"

using namespace testing_records;

namespace {

const std::string kIni = "on\r\npass_check\r\ncorrect horse battery\r\n\r\n";
// Three lines of four: starting shows an error box, and OK keeps the file's
// bytes beside it and says so in a note.
const std::string kIniCutShort = "on\r\npass_check\r\ncorrect horse battery\r\n";

struct Session {
    test_messenger::TempFolder folder;
    test_messenger::TestMessenger plugin;
    const void* start() { return plugin.initialise(folder.hostPath()); }
    void stop() { plugin.finalise(); }
    // The codes of the commands sent, as hex digits.
    std::string commands() const {
        std::string codes;
        for (const std::string& c : plugin.commands) codes += c.at(5);
        return hex(codes);
    }
    // "sealed", "held back" or "as written".
    std::string send() {
        const void* reply = plugin.call(messageToSend(12345, "hello"));
        if (!reply) return "as written";
        return bytesOf(reply).at(4) == '\x04' ? "held back" : "sealed";
    }
};

struct Case {
    const char* name;
    std::string ini;
    // What the host does; false when the call it re-entered answered otherwise than it should.
    std::function<bool(Session&)> act;
    bool running;          // afterwards
    const char* commands;  // the codes of every command sent: C9 add, CA update, CB remove
    const char* send;      // what becomes of a message to a listed contact afterwards
};

const Case cases[] = {
    {"finalise while the note after OK is open", kIniCutShort, [](Session& s) {
         s.start();
         s.plugin.button(1);
         s.plugin.boxes.whileNextBoxIsOpen([&s] { s.stop(); });
         setpassform::setpass->SaveBtn.click();
         return true;
     }, false, "C9CB", "as written"},
    {"finalise inside the update-button command of a toggle", kIni, [](Session& s) {
         s.start();
         s.plugin.duringNextCommand(0xCA, [&s] { s.stop(); });
         s.plugin.button(0);
         return true;
     }, false, "C9CACB", "as written"},
    {"finalise and start again inside the update-button command", kIni, [](Session& s) {
         s.start();
         s.plugin.duringNextCommand(0xCA, [&s] {
             s.stop();
             s.start();
         });
         s.plugin.button(0);
         return setpassform::encryptionSwitch;  // the new session's, not the toggle's
     }, true, "C9CACBC9", "sealed"},
    {"start again inside the remove-button command of a finalise", kIni, [](Session& s) {
         s.start();
         s.plugin.duringNextCommand(0xCB, [&s] { s.start(); });
         s.stop();
         return true;
     }, true, "C9CBC9", "sealed"},
    // The button the host gave as it finalised is removed again.
    {"finalise inside the add-button command of the start", kIni, [](Session& s) {
         s.plugin.duringNextCommand(0xC9, [&s] { s.stop(); });
         return s.start() == nullptr;
     }, false, "C9CB", "as written"},
    {"finalise while the start's error box is open", kIniCutShort, [](Session& s) {
         s.plugin.boxes.whileNextBoxIsOpen([&s] { s.stop(); });
         return s.start() == nullptr;
     }, false, "", "as written"},
    // The file did not load: the session that runs holds messages back.
    {"a second start while the first one's error box is open", kIniCutShort, [](Session& s) {
         const void* inner = &s;
         s.plugin.boxes.whileNextBoxIsOpen([&s, &inner] { inner = s.start(); });
         return s.start() != nullptr && inner == nullptr;
     }, true, "C9", "held back"},
};

class Reentry : public ::testing::TestWithParam<Case> {};

TEST_P(Reentry, TheHostCallingInAgainFromInsideThePlugInsOwnCalls) {
    const Case& c = GetParam();
    Session s;
    s.folder.write("Mistlock.ini", c.ini);
    s.folder.write("MistlockWho.ini", "12345\r\n");
    EXPECT_TRUE(c.act(s)) << "the call the host re-entered answered wrongly";
    EXPECT_EQ(host::initialised(), c.running);
    EXPECT_EQ(setpassform::setpass != nullptr, c.running) << "a dialog without a session, or none in one";
    EXPECT_EQ(host::buttonId(), c.running ? 7 : 0);
    EXPECT_EQ(s.commands(), c.commands);
    EXPECT_EQ(s.send(), c.send);
    s.stop();
    EXPECT_EQ(setpassform::setpass, nullptr);

    // What is left works as a fresh start does.
    s.folder.write("Mistlock.ini", kIni);
    ASSERT_NE(s.start(), nullptr);
    s.plugin.button(0);
    s.plugin.button(0);
    EXPECT_EQ(s.send(), "sealed");
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, Reentry, ::testing::ValuesIn(cases), caseName);

}  // namespace
