// The host calling the plug-in at the wrong times: every event and button code
// before the initialise event, after the finalise event, twice in a row, and
// while the settings dialog is open; and, natively, the host calling in again
// while one of the plug-in's message boxes is still open.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "host/plugin.h"
#include "platform/platform.h"
#include "platform/test_seams.h"
#include "settings/setpassform.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

#if !defined(_WIN32)
#include "platform/portable/headless.h"
#endif

namespace fs = std::filesystem;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

namespace {

const std::string kIni = "on\r\npass_check\r\nold password\r\n\r\n";
const std::string kWho = "12345";

struct Call {
    const char* name;
    std::string record;  // empty: a button code instead
    std::int32_t button = 0;
};

// Every event the host can send, with well-formed fields, except initialise,
// and every button code that means something, and some that do not.
std::vector<Call> everyCallButInitialise(const std::string& envelope) {
    std::vector<Call> calls = {
        {"finalise", event(2)},
        {"about", event(3)},
        {"received plain text", messageReceived("hello", 12345)},
        {"received envelope", messageReceived(envelope, 12345)},
        {"received bad envelope", messageReceived("#MSTLK:ZZ", 12345)},
        {"message to send", messageToSend(12345, "hello")},
    };
    for (std::uint8_t code : {0, 4, 5, 8, 9, 0x7F, 0xC9, 0xFF}) {
        calls.push_back({"unknown event", event(code, int32(1) + int32(2))});
    }
    for (std::int32_t code : {0, 1, 2, 3, -1, INT_MIN, INT_MAX}) calls.push_back({"button", "", code});
    return calls;
}

// The envelope of a text under the password of these tests' settings file.
std::string envelopeFor(const std::string& text) {
    return envelope::seal(text, envelope::keyBlockFromText(u"old password"), platform::ansiCodePage());
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        folder.write("Mistlock.ini", kIni);
        folder.write("MistlockWho.ini", kWho);
        envelope = envelopeFor("sealed before");
    }
    const void* perform(const Call& call) {
        if (call.record.empty()) {
            host::toolbarButtonProc(call.button);
            return nullptr;
        }
        return plugin.call(call.record);
    }
    std::string files() const { return hex(folder.read("Mistlock.ini")) + "/" + hex(folder.read("MistlockWho.ini")); }

    TempFolder folder;
    TestMessenger plugin;
    std::string envelope;
};

TEST_F(Lifecycle, NothingHappensBeforeInitialiseOrAfterFinalise) {
    const std::string filesBefore = files();
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
            plugin.finalise();
            plugin.commands.clear();
        }
        const char* when = round == 0 ? "before initialise" : "after finalise";
        for (const Call& call : everyCallButInitialise(envelope)) {
            EXPECT_EQ(perform(call), nullptr) << call.name << " " << call.button << " " << when;
            EXPECT_TRUE(plugin.commands.empty()) << call.name << " " << call.button << " " << when;
            EXPECT_TRUE(plugin.boxes.boxes().empty()) << call.name << " " << call.button << " " << when;
            EXPECT_FALSE(host::initialised()) << call.name << " " << when;
            EXPECT_EQ(setpassform::setpass, nullptr) << call.name << " " << when;
        }
        EXPECT_EQ(files(), filesBefore) << when;
    }
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.hostPath())) entries += entry.is_regular_file();
    EXPECT_EQ(entries, 2u) << "nothing may be written before initialise or after finalise";
}

// Each call made twice in a row must do what it does once, twice, and no harm.
TEST_F(Lifecycle, EveryCallTwiceInARow) {
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);

    // A second initialise is ignored: no reply, no second button, same folder.
    const std::string settingsFolder = setpassform::settingsFolder;
    TempFolder other;
    EXPECT_EQ(plugin.initialise(other.hostPath()), nullptr);
    EXPECT_EQ(plugin.commands.size(), 1u);
    EXPECT_EQ(setpassform::settingsFolder, settingsFolder);

    // The same message twice gives the same bytes; replies do not pile up.
    for (const std::string& record : {messageToSend(12345, "twice"), messageReceived(envelope, 1)}) {
        const std::string first = bytesOf(plugin.call(record));
        EXPECT_EQ(bytesOf(plugin.call(record)), first);
    }
    EXPECT_EQ(replyString(plugin.call(messageReceived(envelope, 1)), 0), "sealed before");

    // About twice: two boxes. Button 2 twice: two more.
    plugin.call(event(3));
    plugin.call(event(3));
    plugin.button(2);
    plugin.button(2);
    EXPECT_EQ(plugin.boxes.boxes().size(), 4u);

    // Toggle twice: back where it started, saved each time, one update each.
    const std::size_t commandsBefore = plugin.commands.size();
    plugin.button(0);
    EXPECT_EQ(folder.read("Mistlock.ini").substr(0, 5), "off\r\n");
    plugin.button(0);
    EXPECT_TRUE(setpassform::encryptionSwitch);
    EXPECT_EQ(folder.read("Mistlock.ini"), kIni);
    EXPECT_EQ(plugin.commands.size(), commandsBefore + 2);

    // Settings twice: shown once, still shown, in the same place.
    plugin.button(1);
    const int left = setpassform::setpass->left(), top = setpassform::setpass->top();
    plugin.button(1);
    EXPECT_TRUE(setpassform::setpass->visible());
    EXPECT_EQ(setpassform::setpass->left(), left);
    EXPECT_EQ(setpassform::setpass->top(), top);

    // OK twice: the second close of a hidden dialog saves the same again.
    setpassform::setpass->SaveBtn.click();
    setpassform::setpass->SaveBtn.click();
    EXPECT_FALSE(setpassform::setpass->visible());
    EXPECT_EQ(folder.read("Mistlock.ini"), kIni);

    // Finalise twice: one remove-button command, then nothing.
    plugin.finalise();
    const std::size_t afterFinalise = plugin.commands.size();
    EXPECT_EQ(plugin.finalise(), nullptr);
    EXPECT_EQ(plugin.commands.size(), afterFinalise);
    EXPECT_EQ(plugin.boxes.boxes().size(), 4u) << "no error along the way";
}

TEST_F(Lifecycle, EverythingWhileTheDialogIsOpen) {
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    plugin.button(1);
    ASSERT_TRUE(setpassform::setpass->visible());

    // An edit in the open dialog takes effect for the next message at once.
    setpassform::setpass->Edit1.setText(u"edited, not saved");
    const std::string sealed = replyString(plugin.call(messageToSend(12345, "after the edit")), 0);
    EXPECT_NE(sealed, envelopeFor("after the edit"));
    EXPECT_EQ(replyString(plugin.call(messageReceived(sealed, 1)), 0), "after the edit");
    const void* old = plugin.call(messageReceived(envelope, 1));
    EXPECT_NE(replyString(old, 0), "sealed before") << "the old password no longer opens it";

    // Every other call while the dialog is open leaves it open and usable.
    for (const Call& call : everyCallButInitialise(envelope)) {
        if (call.record.empty() ? false : static_cast<unsigned char>(call.record[5]) == 2) continue;
        perform(call);
        ASSERT_NE(setpassform::setpass, nullptr) << call.name << " " << call.button;
    }
    EXPECT_TRUE(host::initialised());
    EXPECT_EQ(setpassform::setpass->Edit1.text(), u"edited, not saved");

    // Finalise with the dialog open destroys it without saving.
    const std::string filesBefore = files();
    plugin.finalise();
    EXPECT_EQ(setpassform::setpass, nullptr);
    EXPECT_EQ(files(), filesBefore);
    host::toolbarButtonProc(1);
    EXPECT_EQ(setpassform::setpass, nullptr);

    // A new start gets a fresh, hidden dialog loaded from the files, which
    // the toggles made while the dialog was open saved with the edit.
    EXPECT_NE(folder.read("Mistlock.ini").find("\r\nedited, not saved\r\n"), std::string::npos);
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    ASSERT_NE(setpassform::setpass, nullptr);
    EXPECT_FALSE(setpassform::setpass->visible());
    EXPECT_EQ(setpassform::setpass->Edit1.text(), u"edited, not saved");
}

#if !defined(_WIN32)

// The host's own UI goes on while a modal box of the plug-in is open: it may
// call pluginFun or the button procedure again from inside the box's message
// loop. Natively the box is the observer, so the test can do that.
class ReentrantHost : public Lifecycle {
protected:
    void whileBoxIsOpen(std::function<void()> action) {
        reentry = std::move(action);
        platform::headless::setMessageBoxObserver([this](const std::u16string& text, const std::u16string& caption,
                                                         bool error) {
            plugin.boxes.record({caption, text, error});
            if (auto act = std::move(reentry)) {
                reentry = nullptr;
                act();
            }
        });
    }
    std::function<void()> reentry;
};

// The reply a message event returns after its box must still be the reply,
// whatever the host did while the box was open.
TEST_F(ReentrantHost, ReplyAfterABoxSurvivesAnotherEventMeanwhile) {
    folder.write("Mistlock.ini", "on\r\nfile_check\r\n\r\nno such key file\r\n");
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    std::string inner;
    whileBoxIsOpen([&] { inner = bytesOf(plugin.call(messageReceived("#MSTLK:ZZ", 1))); });
    const void* reply = plugin.call(messageToSend(12345, "no key"));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004") << "the cancel reply, readable and whole";
    EXPECT_EQ(static_cast<unsigned char>(inner.at(4)), 2u);
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
}

TEST_F(ReentrantHost, ReplyAfterAFailedEncryptionSurvivesFinaliseMeanwhile) {
    folder.write("Mistlock.ini", "on\r\nfile_check\r\n\r\nkey.txt\r\n");
    folder.write("key.txt", "");  // a key file without a line cannot key anything
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    whileBoxIsOpen([&] { plugin.finalise(); });
    const void* reply = plugin.call(messageToSend(12345, "no key line"));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004");
    EXPECT_FALSE(host::initialised());
}

TEST_F(ReentrantHost, FinaliseDuringTheSettingsButtonsErrorBox) {
    // The UIN list cannot be made, so opening the dialog shows an error box;
    // the host finalises while it is open.
    std::error_code ignored;
    fs::remove(folder.file("MistlockWho.ini"), ignored);
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    platform::seams::failWrite(0, 0);
    whileBoxIsOpen([&] { plugin.finalise(); });
    plugin.button(1);
    platform::seams::clear();
    EXPECT_FALSE(host::initialised());
    EXPECT_EQ(setpassform::setpass, nullptr);
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
    EXPECT_TRUE(plugin.boxes.boxes()[0].error);
}

TEST_F(ReentrantHost, FinaliseDuringTheAboutBox) {
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    whileBoxIsOpen([&] { plugin.finalise(); });
    plugin.button(2);
    EXPECT_FALSE(host::initialised());
    whileBoxIsOpen([&] { host::toolbarButtonProc(0); });
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    EXPECT_EQ(plugin.call(event(3)), nullptr);
    EXPECT_EQ(plugin.boxes.boxes().size(), 2u);
}

// Reporting a failure can fail too (no memory left for the message, a box
// that cannot be shown); even then nothing may reach the host as an exception.
TEST_F(ReentrantHost, AFailingBoxThrowsNothingIntoTheHost) {
    ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
    platform::headless::setMessageBoxObserver([](const std::u16string&, const std::u16string&, bool) {
        throw std::runtime_error("the box cannot be shown");
    });
    const void* reply = reinterpret_cast<const void*>(1);
    EXPECT_NO_THROW(reply = plugin.call(event(3)));
    EXPECT_EQ(reply, nullptr);
    EXPECT_NO_THROW(host::toolbarButtonProc(2));
    platform::seams::failWrite(0, 0);
    EXPECT_NO_THROW(host::toolbarButtonProc(0));
    platform::seams::clear();
    EXPECT_NO_THROW(host::toolbarButtonProc(0));  // back on, saved without a box
    EXPECT_NO_THROW(reply = plugin.call(messageToSend(12345, "still sealed")));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(replyString(reply, 0).rfind("#MSTLK:", 0), 0u);

    // Without its box, a message that cannot be sealed is still held back.
    setpassform::setpass->file_check.setChecked(true);
    setpassform::setpass->Edit2.setText(u"no such key file");
    EXPECT_NO_THROW(reply = plugin.call(messageToSend(12345, "never in clear")));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004");
    folder.write("empty.key", "");
    setpassform::setpass->Edit2.setText(u"empty.key");
    EXPECT_NO_THROW(reply = plugin.call(messageToSend(12345, "never in clear")));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004");
}

#endif

}  // namespace
