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
#include <optional>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "platform/test_seams.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/envelope/sealed_vectors.h"
#include "tests/support/odd_files.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

namespace fs = std::filesystem;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;
using odd_files::Odd;

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

// OK in the settings dialog, past the warning about a short password, which
// keeps the dialog open the first time.
void pressOk() {
    setpassform::setpass->SaveBtn.click();
    if (setpassform::setpass->visible()) setpassform::setpass->SaveBtn.click();
}

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
        pressOk();
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
    plugin.button(1);
    pressOk();
    EXPECT_EQ(folder.read("Mistlock.ini.bad"), "first");
    EXPECT_EQ(folder.read("Mistlock.ini.bad2"), "on\r\n");
}

// ---- Sessions as a user lives them ----------------------------------------------
// Steps: s start, m send to the listed 111111, b the same as a record one byte
// short, t toggle, o open the settings and press OK, p type a password, a
// key-file path and a list that the code page may lack, e the story's edit on
// disk, f finalise. Each send takes the next of `sends`: "sealed", "same"
// (sealed to the envelope of the first: under the same key), or a fragment of
// the box that held it back.

std::string shortRecord(std::int32_t uin) {
    const std::string r = messageToSend(uin, "Hi");
    return int32(readInt32(r.data(), 0) - 1) + r.substr(4);
}

const std::string kUtf8Mark = "\xEF\xBB\xBF";
const std::string kMima = "\xE5\xAF\x86\xE7\xA0\x81";  // 密码 in UTF-8

struct Story {
    const char* name;
    unsigned codePage;  // 0: both
    std::map<std::string, std::string> files;
    std::function<void(TempFolder&)> edit;
    const char* steps;
    std::vector<const char*> sends;
    std::map<std::string, std::optional<std::string>> after;  // nullopt: nothing there
};

std::function<void(TempFolder&)> oddAt(Odd what, const char* name) {
    return [=](TempFolder& f) { ASSERT_TRUE(odd_files::place(what, f.file(name))) << name; };
}

std::vector<Story> stories() {
    const std::string cut = "on\r\npass_check\r\nc", nul("on\r\npass_check\r\ncorrect ho\0rse\r\n\r\n", 30);
    const std::string notes = kIni + "notes\r\n", zeros("111111\r\n\0\0", 10), twoLines = "on\r\npass_check\r\n";
    const std::string edited = "on\r\npass_check\r\nnew password\r\n\r\n", editedWho = "111111\r\n333\r\n444";
    const std::string mima = kUtf8Mark + "on\r\npass_check\r\n" + kMima + "-Geheim\r\n\r\n";  // 密码-Geheim
    const std::string parol =  // пароль
        kUtf8Mark + "on\r\npass_check\r\n\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\r\n\r\n";
    const std::map<std::string, std::string> both = {{"Mistlock.ini", kIni}, {"MistlockWho.ini", kWho}};
    return {
        {"a password the code page lacks, two toggles, a restart", 0,
         {{"Mistlock.ini", mima}, {"MistlockWho.ini", kWho}}, nullptr, "smttfsm", {"sealed", "same"},
         {{"Mistlock.ini", mima}}},
        {"a Cyrillic password on a Western code page", 1252, {{"Mistlock.ini", parol}, {"MistlockWho.ini", kWho}},
         nullptr, "smttfsm", {"sealed", "same"}, {{"Mistlock.ini", parol}}},
        {"typed: password, key-file path and list the code page lacks", 0, both, nullptr, "spmofsm", {"sealed", "same"},
         {{"Mistlock.ini", kUtf8Mark + "on\r\npass_check\r\n" + kMima + "-Geheim\r\nC:\\" + kMima + "\\k.txt\r\n"},
          {"MistlockWho.ini", kUtf8Mark + "111111\r\n" + kMima}}},
        // OK cannot save the list over what stands in its place: it stays unread.
        {"the list a link to nothing", 0, {{"Mistlock.ini", kIni}}, oddAt(Odd::LinkToNothing, "MistlockWho.ini"),
         "esmom", {kListUnread, kListUnread}, {}},
        {"the list a pipe", 0, {{"Mistlock.ini", kIni}}, oddAt(Odd::Pipe, "MistlockWho.ini"), "esmom",
         {kListUnread, kListUnread}, {}},
        {"the list a folder", 0, {{"Mistlock.ini", kIni}}, oddAt(Odd::Folder, "MistlockWho.ini"), "esmom",
         {kListUnread, kListUnread}, {}},
        {"the settings file a link to nothing", 0, {{"MistlockWho.ini", kWho}},
         oddAt(Odd::LinkToNothing, "Mistlock.ini"), "estm", {kSettingsUnread}, {}},
        {"the settings file a pipe", 0, {{"MistlockWho.ini", kWho}}, oddAt(Odd::Pipe, "Mistlock.ini"), "estm",
         {kSettingsUnread}, {}},
        {"a folder where the list was, then a record one byte short", 0, both,
         [](TempFolder& f) { fs::remove(f.file("MistlockWho.ini")), fs::create_directory(f.file("MistlockWho.ini")); },
         "seb", {kBadRecord}, {}},
        {"edits on disk while running, two toggles", 0, both,
         [=](TempFolder& f) { f.write("Mistlock.ini", edited), f.write("MistlockWho.ini", editedWho); }, "sett", {},
         {{"Mistlock.ini", kIni}, {"MistlockWho.ini", kWho}, {"Mistlock.ini.kept", edited},
          {"MistlockWho.ini.kept", editedWho}, {"Mistlock.ini.kept2", std::nullopt}}},
        {"a fifth line and trailing zeros, which no save carries", 0,
         {{"Mistlock.ini", notes}, {"MistlockWho.ini", zeros}}, nullptr, "st", {},
         {{"Mistlock.ini.kept", notes}, {"MistlockWho.ini.kept", zeros}}},
        {"a folder and a link to nothing at the names of copies", 0, {{"Mistlock.ini", twoLines}},
         [](TempFolder& f) {
             oddAt(Odd::Folder, "Mistlock.ini.bad")(f);
             oddAt(Odd::LinkToNothing, "Mistlock.ini.bad2")(f);
         },
         "eso", {}, {{"Mistlock.ini.bad3", twoLines}, {"Mistlock.ini", twoLines + "\r\n\r\n"}}},
        {"a password cut short, two toggles, a restart", 0, {{"Mistlock.ini", cut}, {"MistlockWho.ini", kWho}},
         nullptr, "smttfsm", {kSettingsUnread, kSettingsUnread}, {{"Mistlock.ini", cut}}},
        {"a NUL in the password, two toggles, a restart", 0, {{"Mistlock.ini", nul}, {"MistlockWho.ini", kWho}},
         nullptr, "smttfsm", {kSettingsUnread, kSettingsUnread}, {{"Mistlock.ini", nul}}},
    };
}

// Lives one story; a failed assertion ends this story only.
void live(const Story& story) {
    TempFolder folder;
    for (const auto& [name, bytes] : story.files) folder.write(name, bytes);
    std::optional<TestMessenger> plugin;
    std::vector<std::string> told;
    const auto hear = [&] {
        for (const auto& box : plugin->boxes.boxes()) told.push_back(textOf(box));
        plugin->boxes.clear();
    };
    std::size_t sent = 0;
    std::string first;
    for (const char* step = story.steps; *step; ++step) {
        if (*step != 's' && *step != 'e') {
            ASSERT_TRUE(plugin && setpassform::setpass) << *step;
        }
        switch (*step) {
            case 's': plugin.emplace().initialise(folder.hostPath()); break;
            case 'f': hear(); plugin.reset(); break;
            case 't': plugin->button(0); break;
            case 'o':
                plugin->button(1);
                pressOk();
                break;
            case 'e': story.edit(folder); break;
            case 'p':
                setpassform::setpass->Edit1.setText(u"密码-Geheim");
                setpassform::setpass->Edit2.setText(u"C:\\密码\\k.txt");
                setpassform::setpass->Memo1.setText(u"111111\r\n密码");
                break;
            default:
                ASSERT_LT(sent, story.sends.size());
                hear();
                const void* reply = plugin->call(*step == 'm' ? normalRecord(111111) : shortRecord(111111));
                ASSERT_NE(reply, nullptr) << "null would send the message as written";
                const std::string expected = story.sends[sent++];
                if (expected == "sealed" || expected == "same") {
                    const std::string envelope = replyString(reply, 0);
                    EXPECT_EQ(envelope.rfind("#MSTLK:", 0), 0u);
                    if (expected == "sealed") first = envelope;
                    EXPECT_EQ(envelope, first) << "sealed under another key";
                } else {
                    EXPECT_EQ(bytesOf(reply), kCancel);
                    ASSERT_EQ(plugin->boxes.boxes().size(), 1u);
                    EXPECT_NE(textOf(plugin->boxes.boxes()[0]).find(expected), std::string::npos);
                }
        }
    }
    EXPECT_EQ(sent, story.sends.size());
    if (plugin) hear();
    for (const auto& [name, bytes] : story.after) {
        EXPECT_EQ(folder.exists(name), bytes.has_value()) << name;
        if (!bytes || !folder.exists(name)) continue;
        EXPECT_EQ(hex(folder.read(name)), hex(*bytes)) << name;
        const bool copy = name.find(".bad") != std::string::npos || name.find(".kept") != std::string::npos;
        bool named = false;
        for (const std::string& text : told) named = named || text.find(name) != std::string::npos;
        EXPECT_TRUE(named || !copy) << "no box names " << name;
    }
    plugin.reset();
}

TEST(FailClosed, SessionsNeverSealUnderAnotherKeyNorLoseAByte) {
    for (const Story& story : stories()) {
        if (story.codePage && story.codePage != platform::ansiCodePage()) continue;
        SCOPED_TRACE(story.name);
        live(story);
    }
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
    // A fragment of the box; "sealed:" and the key block's hex; a sealed
    // envelope, whole; or "as written".
    std::string outcome;
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
    // A sealed key file, its nonce replayed: the independent vector of "Hi".
    const envelope_test::SealedVector hi = envelope_test::sealedVector("Hi");
    const std::string sealedFile = "correct horse battery staple\r\nMistlock-Sealed: 2\r\n";
    const auto replay = [hi](TempFolder&) { platform::seams::replayRandomBytes(hi.nonce); };
    return {
        {"a sealed key file", keyIni, sealedFile, false, replay, messageToSend(111111, "Hi"), hi.envelope},
        {"a sealed key file, and no random numbers", keyIni, sealedFile, false,
         [](TempFolder&) { platform::seams::failRandomSource(1); }, r, "не дала случайных чисел"},
        {"a sealed key file's line beyond the 4 KiB read", keyIni,
         "correct horse battery staple\r\n" + std::string(4070, '#') + "\r\nMistlock-Sealed: 2\r\n", false, nullptr, r,
         staple},
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
        } else if (outcome.rfind("#MSTLK2:", 0) == 0) {
            EXPECT_EQ(bytes.size() > 4 && bytes[4] == '\x02' ? replyString(reply, 0) : hex(bytes), outcome);
        } else if (outcome.rfind("sealed:", 0) == 0) {
            const std::string expected = envelope_test::envelopeFor("hello", envelope_test::keyOf(outcome.substr(7)));
            EXPECT_EQ(bytes.size() > 4 && bytes[4] == '\x02' ? replyString(reply, 0) : hex(bytes), expected);
        } else {
            EXPECT_EQ(hex(bytes), hex(kCancel)) << "not held back";
            const auto& boxes = plugin.boxes.boxes();
            const std::string why = boxes.size() == boxesBefore + 1 ? textOf(boxes.back()) : "<no box, or more>";
            EXPECT_NE(why.find(outcome), std::string::npos) << why;
        }
        platform::seams::clear();
    }
}

}  // namespace
