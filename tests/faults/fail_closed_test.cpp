// Settings the plug-in could not read never let a listed contact's message
// leave readable, and never cost the user a byte: each case starts the
// plug-in on a settings folder as a user could leave it, sends to a listed
// contact, then does what a user would (switch, close the dialog), and checks
// the reply, the boxes and every byte left in the folder.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

namespace fs = std::filesystem;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

namespace {

const std::string kCancel("\x01\x00\x00\x00\x04", 5);
const std::string kIni = "on\r\npass_check\r\nmy secret password\r\nC:\\keys\\k.txt\r\n";
const std::string kWho = "111111\r\n222222";

// What a send to a listed contact must give.
enum class Sent { HeldBack, Sealed };

// Which box explains a message held back: a fragment of its built-in text.
const char* const kListUnread = "MistlockWho.ini) не удалось прочитать";
const char* const kSettingsUnread = "Mistlock.ini) не удалось прочитать";
const char* const kListMissing = "пропал из папки настроек";
const char* const kBadRecord = "в повреждённом виде";

struct Case {
    const char* name;
    std::string ini, who;  // "" with absent set: no such file
    bool whoAbsent;
    std::int32_t uin;
    std::function<void(TempFolder&)> meanwhile;  // between start and send
    std::function<std::string(std::int32_t)> record;
    Sent sent;
    const char* why;              // fragment of the held-back box, or null
    const char* errorAtStart;     // file the start's error box names, or null
    std::map<std::string, std::string> keptAfterOk;  // NAME.bad -> bytes, after closing the dialog
};

std::string normalRecord(std::int32_t uin) { return messageToSend(uin, "hello"); }

std::vector<Case> cases() {
    return {
        {"list marked UTF-8 holding cp1251 bytes", kIni, "\xEF\xBB\xBF" "111111\r\n\xCF\xF0\xE8", false, 111111,
         nullptr, normalRecord, Sent::HeldBack, kListUnread, "MistlockWho.ini",
         {{"MistlockWho.ini.bad", "\xEF\xBB\xBF" "111111\r\n\xCF\xF0\xE8"}}},
        {"a NUL in the list cuts it short", kIni, std::string("7\r\n8\0\r\n9", 8), false, 9, nullptr, normalRecord,
         Sent::HeldBack, kListUnread, "MistlockWho.ini", {{"MistlockWho.ini.bad", std::string("7\r\n8\0\r\n9", 8)}}},
        {"settings file marked UTF-8 holding cp1251 bytes",
         "\xEF\xBB\xBF" "on\r\nfile_check\r\n\xEF\xE0\xF0\xEE\xEB\xFC\r\nC:\\keys\\k.txt\r\n", kWho, false, 111111,
         nullptr, normalRecord, Sent::HeldBack, kSettingsUnread, "Mistlock.ini",
         {{"Mistlock.ini.bad", "\xEF\xBB\xBF" "on\r\nfile_check\r\n\xEF\xE0\xF0\xEE\xEB\xFC\r\nC:\\keys\\k.txt\r\n"}}},
        {"settings file of two lines", "on\r\npass_check\r\n", kWho, false, 111111, nullptr, normalRecord,
         Sent::HeldBack, kSettingsUnread, "Mistlock.ini", {{"Mistlock.ini.bad", "on\r\npass_check\r\n"}}},
        {"list file deleted while running", kIni, kWho, false, 222222,
         [](TempFolder& f) { fs::remove(f.file("MistlockWho.ini")); }, normalRecord, Sent::HeldBack, kListMissing,
         nullptr, {}},
        {"record one byte short", kIni, kWho, false, 111111, nullptr,
         [](std::int32_t uin) {
             std::string r = messageToSend(uin, "Hi");
             return int32(readInt32(r.data(), 0) - 1) + r.substr(4);
         },
         Sent::HeldBack, kBadRecord, nullptr, {}},
        {"all well", kIni, kWho, false, 111111, nullptr, normalRecord, Sent::Sealed, nullptr, nullptr, {}},
    };
}

std::string textOf(const testing_boxes::Box& box) { return utf8::encode(box.text); }

TEST(FailClosed, UnreadSettingsHoldMessagesBackAndKeepTheirBytes) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        folder.write("Mistlock.ini", c.ini);
        if (!c.whoAbsent) folder.write("MistlockWho.ini", c.who);
        TestMessenger plugin;
        ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
        if (c.errorAtStart) {
            ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
            EXPECT_NE(textOf(plugin.boxes.boxes()[0]).find(c.errorAtStart), std::string::npos);
            EXPECT_NE(textOf(plugin.boxes.boxes()[0]).find(".bad"), std::string::npos) << "the user learns where";
        } else {
            EXPECT_TRUE(plugin.boxes.boxes().empty());
        }
        // A file that was never read left the switch off: the user turns it on.
        if (!setpassform::encryptionSwitch) plugin.button(0);
        ASSERT_TRUE(setpassform::encryptionSwitch);
        if (c.meanwhile) c.meanwhile(folder);

        const std::size_t boxesBefore = plugin.boxes.boxes().size();
        const void* reply = plugin.call(c.record(c.uin));
        ASSERT_NE(reply, nullptr) << "null would send the message as written";
        if (c.sent == Sent::HeldBack) {
            EXPECT_EQ(bytesOf(reply), kCancel);
            ASSERT_EQ(plugin.boxes.boxes().size(), boxesBefore + 1);
            const std::string why = textOf(plugin.boxes.boxes().back());
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
        } else {
            EXPECT_EQ(replyString(reply, 0).rfind("#MSTLK:", 0), 0u);
        }

        // Closing the dialog saves what it shows; what could not be read is
        // kept beside it first (by the switch, or now), and the user is told.
        plugin.button(1);
        setpassform::setpass->SaveBtn.click();
        // Past the warning about a short password, which keeps the dialog open.
        if (setpassform::setpass->visible()) setpassform::setpass->SaveBtn.click();
        for (const auto& [name, bytes] : c.keptAfterOk) {
            ASSERT_TRUE(folder.exists(name)) << name;
            EXPECT_EQ(hex(folder.read(name)), hex(bytes)) << name;
            bool told = false;
            for (const auto& box : plugin.boxes.boxes()) told = told || textOf(box).find(name) != std::string::npos;
            EXPECT_TRUE(told) << "no box names " << name;
        }
        // Once the user has seen and closed the dialog, its settings stand.
        EXPECT_TRUE(setpassform::loaded(setpassform::SettingsFile::Settings));
        EXPECT_TRUE(setpassform::loaded(setpassform::SettingsFile::UinList));
    }
}

// A kept copy never replaces an earlier one.
TEST(FailClosed, KeptCopiesNeverOverwriteEachOther) {
    TempFolder folder;
    folder.write("Mistlock.ini.bad", "first");
    folder.write("Mistlock.ini", "on\r\n");
    TestMessenger plugin;
    plugin.initialise(folder.hostPath());
    plugin.button(0);
    EXPECT_EQ(folder.read("Mistlock.ini.bad"), "first");
    EXPECT_EQ(folder.read("Mistlock.ini.bad2"), "on\r\n");
}

// ---- Keys and records that cannot be trusted ---------------------------------

// A key file whose first line is no key the user meant, a record that cannot
// be read whole, a start that failed: held back with a box that says why. A
// message is sealed only under the key the file holds, and a record goes as
// written only when it plainly is no message to seal.
struct Untrusted {
    const char* name;
    std::string ini, keyFile;  // key.txt, when not empty
    bool startFails;
    std::function<void(TempFolder&)> meanwhile;
    std::string record;
    std::string outcome;  // a fragment of the box; "sealed:" and the key block's hex; or "as written"
};

std::string utf16le(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) out += std::string{c, '\0'};
    return out;
}

std::vector<Untrusted> untrusted() {
    const std::string keyIni = "on\r\nfile_check\r\n\r\nkey.txt\r\n";
    const std::string r = messageToSend(111111, "hello");
    const auto withLength = [&r](std::int32_t n) { return int32(n) + r.substr(4); };
    const std::string oneShort = withLength(readInt32(r.data(), 0) - 1);
    std::string zhe;  // Ж U+0416 in UTF-8, past the 4 KiB read
    for (int i = 0; i < 3000; ++i) zhe += "\xD0\x96";
    // "correct horse battery staple": 28 units, their 28 bytes.
    const char* staple = "sealed:63006F0072007200650063007400200068006F00720073006500200000000000";
    const std::string keygen = envelope_test::dataFile("keygen.key");
    const std::string keygenKey = "sealed:" + hex(keygen.substr(2, 32));
    const char* notStarted = "не смог запуститься";
    return {
        {"bytes that are no UTF-8 beyond the 4 KiB read", keyIni,
         "\xEF\xBB\xBF" "correct horse battery staple\r\n" + std::string(5000, 'x') + "\xFF", false, nullptr, r, staple},
        {"a line longer than the read, cut inside a character", keyIni, "\xEF\xBB\xBFx" + zhe, false, nullptr, r,
         "sealed:7800160416041604160416041604160416041604160416041604160416041604"},
        {"UTF-16 without a byte-order mark", keyIni, utf16le("correct horse battery staple 9f8e7d6c5b4a"), false,
         nullptr, r, "looks like UTF-16 without a byte-order mark"},
        {"a key of one character", keyIni, "a\r\n", false, nullptr, r, "has only 1 character"},
        {"a picture", keyIni, std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), false, nullptr, r,
         "has only 4 characters"},
        {"a byte the code page leaves unassigned", keyIni,
         std::string("correct horse") + (platform::ansiCodePage() == 1251 ? "\x98" : "\x81") + "battery\r\n", false,
         nullptr, r, "does not define"},
        {"a line that ends at a zero byte", keyIni, std::string("correct horse battery\0\0", 23), false, nullptr, r,
         "is not a text file"},
        {"a key file made by mistlock keygen", keyIni, keygen, false, nullptr, r, keygenKey},
        {"a failed start, then a record one byte short", kIni, "", true, nullptr, oneShort, notStarted},
        {"a failed start, then a length field of 0", kIni, "", true, nullptr, withLength(0), notStarted},
        {"a length field of 0", kIni, "", false, nullptr, withLength(0), kBadRecord},
        {"a length field of 1", kIni, "", false, nullptr, withLength(1), kBadRecord},
        {"a length field of -1", kIni, "", false, nullptr, withLength(-1), kBadRecord},
        {"a length field of -2^31", kIni, "", false, nullptr, withLength(INT32_MIN), kBadRecord},
        {"a record one byte short, the list file gone, the contact on the dialog's list", kIni, "", false,
         [](TempFolder& f) { fs::remove(f.file("MistlockWho.ini")); }, oneShort, kBadRecord},
        {"a length field of 0, the switch off", "off" + kIni.substr(2), "", false, nullptr, withLength(0), "as written"},
        {"a length field of 1 before a kind that is no event's", kIni, "", false, nullptr,
         int32(1) + "\x02" + r.substr(5), "as written"},
    };
}

TEST(FailClosed, UntrustedKeysAndRecordsHoldMessagesBack) {
    for (const Untrusted& c : untrusted()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        folder.write("Mistlock.ini", c.ini);
        folder.write("MistlockWho.ini", kWho);
        if (!c.keyFile.empty()) folder.write("key.txt", c.keyFile);
        TestMessenger plugin;
        if (c.startFails) {
            plugin.duringNextCommand(0xC9, [] { throw std::runtime_error("the messenger's toolbar is gone"); });
            EXPECT_EQ(plugin.initialise(folder.hostPath()), nullptr);
        } else {
            ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
        }
        if (c.meanwhile) c.meanwhile(folder);
        const std::size_t boxesBefore = plugin.boxes.boxes().size();
        const void* reply = plugin.call(c.record);
        const std::string& outcome = c.outcome;
        const std::string bytes = reply ? bytesOf(reply) : "";
        if (outcome == "as written") {
            EXPECT_EQ(reply, nullptr);
        } else if (outcome.rfind("sealed:", 0) == 0) {
            const std::string expected = envelope_test::envelopeFor("hello", envelope_test::keyOf(outcome.substr(7)));
            EXPECT_EQ(bytes.size() > 4 && bytes[4] == '\x02' ? replyString(reply, 0) : hex(bytes), expected);
        } else {
            EXPECT_EQ(hex(bytes), hex(kCancel)) << "not held back";
            const auto& boxes = plugin.boxes.boxes();
            const std::string why = boxes.size() == boxesBefore + 1 ? textOf(boxes.back()) : "<no box, or more>";
            EXPECT_NE(why.find(outcome), std::string::npos) << why;
        }
    }
}

}  // namespace
