// The host calling in again from inside the plug-in's own calls to it: from
// its handling of a command record, and from inside a box that the plug-in
// shows (the host's UI goes on while the box's message loop runs). Natively
// and under Wine; under AddressSanitizer nothing may be used after it was
// freed, and LeakSanitizer finds no dialog left behind.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "settings/setpassform.h"
#include "tests/support/records.h"
#include "tests/support/test_messenger.h"

using namespace testing_records;
using test_messenger::TempFolder;
using test_messenger::TestMessenger;

namespace {

constexpr std::uint8_t kAdd = 0xC9, kUpdate = 0xCA, kRemove = 0xCB;
const std::string kIni = "on\r\npass_check\r\ncorrect horse battery\r\n\r\n";
// Three lines of four: it does not load whole, so starting shows an error box
// and OK keeps its bytes beside it, saying so in a box.
const std::string kIniCutShort = "on\r\npass_check\r\ncorrect horse battery\r\n";
const std::string kIniShortPassword = "on\r\npass_check\r\npw\r\n\r\n";

enum class Send { Sealed, HeldBack, AsWritten };

struct Session {
    TempFolder folder;
    TestMessenger plugin;
    const void* initialise() { return plugin.initialise(folder.hostPath()); }
    void finalise() { plugin.finalise(); }
    // The host calls in again while the next box is open.
    void inNextBox(std::function<void()> action) { plugin.boxes.whileNextBoxIsOpen(std::move(action)); }
    void inNextCommand(std::uint8_t code, std::function<void()> action) {
        plugin.duringNextCommand(code, std::move(action));
    }
    // The codes of the commands sent, as hex digits.
    std::string commandCodes() const {
        std::string codes;
        for (const std::string& c : plugin.commands) codes += c.at(5);
        return hex(codes);
    }
    // What becomes of a message to the listed contact.
    Send send() {
        const void* reply = plugin.call(messageToSend(12345, "hello"));
        if (!reply) return Send::AsWritten;
        if (bytesOf(reply) == std::string("\x01\x00\x00\x00\x04", 5)) return Send::HeldBack;
        EXPECT_EQ(replyString(reply, 0).rfind("#MSTLK:", 0), 0u);
        return Send::Sealed;
    }
};

struct Case {
    const char* name;
    std::string ini;
    // Does what the host does; returns whether the entry point the host
    // called into answered (an initialise's reply), or true for the others.
    std::function<bool(Session&)> act;
    bool answered;
    bool runningAfter;
    std::vector<std::uint8_t> commands;  // every command the plug-in sent
    // A message to a listed contact afterwards: a stopped plug-in has no say.
    Send sendAfter = Send::Sealed;
};

std::vector<Case> cases() {
    return {
        {"finalise while the note after OK is open", kIniCutShort,
         [](Session& s) {
             s.initialise();
             s.plugin.button(1);
             s.inNextBox([&s] { s.finalise(); });
             setpassform::setpass->SaveBtn.click();
             return true;
         },
         true, false, {kAdd, kRemove}, Send::AsWritten},
        {"finalise while the warning about a short password is open", kIniShortPassword,
         [](Session& s) {
             s.initialise();
             s.plugin.button(1);
             s.inNextBox([&s] { s.finalise(); });
             setpassform::setpass->SaveBtn.click();
             return true;
         },
         true, false, {kAdd, kRemove}, Send::AsWritten},
        {"finalise inside the update-button command of a toggle", kIni,
         [](Session& s) {
             s.initialise();
             s.inNextCommand(kUpdate, [&s] { s.finalise(); });
             s.plugin.button(0);
             return true;
         },
         true, false, {kAdd, kUpdate, kRemove}, Send::AsWritten},
        {"finalise and start again inside the update-button command", kIni,
         [](Session& s) {
             s.initialise();
             s.inNextCommand(kUpdate, [&s] {
                 s.finalise();
                 s.initialise();
             });
             s.plugin.button(0);
             // The toggle belonged to the session that ended: the new one
             // keeps the switch it loaded.
             return setpassform::encryptionSwitch;
         },
         true, true, {kAdd, kUpdate, kRemove, kAdd}},
        {"start again inside the remove-button command of a finalise", kIni,
         [](Session& s) {
             s.initialise();
             s.inNextCommand(kRemove, [&s] { s.initialise(); });
             s.finalise();
             return true;
         },
         true, true, {kAdd, kRemove, kAdd}},
        {"finalise inside the add-button command of the start", kIni,
         [](Session& s) {
             s.inNextCommand(kAdd, [&s] { s.finalise(); });
             return s.initialise() != nullptr;
         },
         // The button the host gave as it finalised is removed again.
         false, false, {kAdd, kRemove}, Send::AsWritten},
        {"finalise while the start's error box is open", kIniCutShort,
         [](Session& s) {
             s.inNextBox([&s] { s.finalise(); });
             return s.initialise() != nullptr;
         },
         false, false, {}, Send::AsWritten},
        {"a second start while the first one's error box is open", kIniCutShort,
         [](Session& s) {
             const void* inner = reinterpret_cast<const void*>(1);
             s.inNextBox([&s, &inner] { inner = s.initialise(); });
             const bool outer = s.initialise() != nullptr;
             return outer && inner == nullptr;
         },
         // The settings file did not load: its session holds messages back.
         true, true, {kAdd}, Send::HeldBack},
        {"finalise while the about box is open", kIni,
         [](Session& s) {
             s.initialise();
             s.inNextBox([&s] { s.finalise(); });
             s.plugin.button(2);
             return true;
         },
         true, false, {kAdd, kRemove}, Send::AsWritten},
    };
}

class Reentry : public ::testing::TestWithParam<Case> {};

TEST_P(Reentry, TheHostCallingInAgainFromInsideThePlugInsOwnCalls) {
    const Case& c = GetParam();
    {
        Session s;
        s.folder.write("Mistlock.ini", c.ini);
        s.folder.write("MistlockWho.ini", "12345\r\n");
        EXPECT_EQ(c.act(s), c.answered);
        EXPECT_EQ(host::initialised(), c.runningAfter);
        EXPECT_EQ(setpassform::setpass != nullptr, c.runningAfter) << "a dialog without a session, or none in one";
        EXPECT_EQ(s.commandCodes(), hex(std::string(c.commands.begin(), c.commands.end())));
        EXPECT_EQ(host::buttonId(), c.runningAfter ? 7 : 0);
        EXPECT_EQ(s.send(), c.sendAfter);
        if (c.runningAfter) s.finalise();
        EXPECT_EQ(setpassform::setpass, nullptr);

        // What is left works as a fresh start does.
        s.folder.write("Mistlock.ini", kIni);
        ASSERT_NE(s.initialise(), nullptr);
        s.plugin.button(0);
        s.plugin.button(0);
        EXPECT_EQ(s.send(), Send::Sealed);
        s.finalise();
        EXPECT_FALSE(host::initialised());
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, Reentry, ::testing::ValuesIn(cases()), caseName);

}  // namespace
