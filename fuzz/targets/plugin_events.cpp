// pluginFun and the toolbar button, driven by the fuzzer after a real
// initialise in a scratch settings folder: switch on, a UIN list, and either a
// password or a key file.
//
// The first input byte picks the setting, the code page, the mode, and
// whether the host calls in again while the plug-in's next box is open:
//   structured  a sequence of events (any code, well framed or with counted
//               strings that lie), button codes, dialog edits and closes,
//               initialise and finalise, in any order;
//   framed      the rest of the input is a record body behind a length field
//               that counts it exactly;
//   verbatim    the rest of the input is a whole record, length field
//               included. Records that claim more bytes than they have are the
//               host's own fault and are skipped; the others are handed over
//               in a heap block of exactly the size their length field gives.
// Every record lies in a heap block of its exact size, so that a read past its
// end is caught by the address sanitizer.
//
// Beyond "no crash, no leak, no undefined behaviour" the target checks that
// every reply and command record is well formed, that a sealed message opens
// again to the text that was sent, that no failure on the message path
// escapes to the toolkit's error box, and that no temporary file is left in
// the settings folder.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "fuzz/support/fuzz_support.h"
#include "host/plugin.h"
#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "settings/setpassform.h"
#include "tests/support/module_state.h"

using namespace fuzzing;

namespace {

struct Setting {
    const char* folderName;
    const char* settingsFile;
    const char* uinList;
    const char* keyFileName;  // nullptr for none
    const char* keyFile;
};

const Setting settings[2] = {
    {"password", "on\r\npass_check\r\nfuzz password\r\n\r\n", "12345\r\n-7\r\n0\r\n2147483647", nullptr, nullptr},
    {"keyfile", "on\r\nfile_check\r\n\r\nkey.txt\r\n", "12345\r\n-7\r\n0\r\n2147483647", "key.txt",
     "\xEF\xBB\xBFkey from a file\r\nsecond line\r\n"},
};

const std::int32_t listedUins[] = {12345, -7, 0, 2147483647};
constexpr std::int32_t givenButtonId = 7;

int currentSetting = -1;
bool dirty = true;
std::string settingFolder;
std::string hostReply;

const std::string title = "Mistlock 0.45";

// The messenger's callback: every command record must be one of the three
// toolbar commands, framed to its exact length.
const void* hostCallback(const void* command) {
    FUZZ_CHECK(command != nullptr, "");
    const std::int32_t length = readInt32(command, 0);
    const auto* b = static_cast<const unsigned char*>(command);
    FUZZ_CHECK(length >= 2 && b[4] == 5, hex(std::string_view(static_cast<const char*>(command), 6)));
    const std::string whole(static_cast<const char*>(command), 4 + static_cast<std::size_t>(length));
    switch (b[5]) {
        case 0xC9:
        case 0xCA:
            FUZZ_CHECK(length == 31, hex(whole));
            FUZZ_CHECK(whole.substr(14) == counted(title) + int32(0), hex(whole));
            break;
        case 0xCB: FUZZ_CHECK(length == 6, hex(whole)); break;
        default: fail("unknown command record", hex(whole));
    }
    hostReply = int32(4) + int32(b[5] == 0xC9 ? givenButtonId : 0);
    return hostReply.data();
}

std::int32_t callbackField() {
    const auto address = reinterpret_cast<std::uintptr_t>(&hostCallback);
    // The protocol carries the callback in 32 bits: the program must be
    // linked without position independence, low in memory.
    FUZZ_CHECK(address <= 0x7FFFFFFF, "the fuzz target must be linked with -no-pie");
    return static_cast<std::int32_t>(address);
}

// Hands exactly these bytes to pluginFun in a heap block of their size.
const void* call(const std::string& record) {
    std::unique_ptr<char[]> block(new char[record.size()]);
    std::memcpy(block.get(), record.data(), record.size());
    return pluginFun(block.get());
}

std::string replyBytes(const void* reply) {
    const std::int32_t length = readInt32(reply, 0);
    FUZZ_CHECK(length >= 1, hex(std::string_view(static_cast<const char*>(reply), 4)));
    return std::string(static_cast<const char*>(reply), 4 + static_cast<std::size_t>(length));
}

// The counted strings of a data reply, which must fill it exactly.
std::vector<std::string> replyStrings(const std::string& reply) {
    std::vector<std::string> strings;
    std::size_t at = 5;
    while (at < reply.size()) {
        FUZZ_CHECK(at + 4 <= reply.size(), hex(reply));
        const std::int32_t n = readInt32(reply.data(), at);
        FUZZ_CHECK(n >= 0 && at + 4 + static_cast<std::size_t>(n) <= reply.size(), hex(reply));
        strings.push_back(reply.substr(at + 4, static_cast<std::size_t>(n)));
        at += 4 + static_cast<std::size_t>(n);
    }
    return strings;
}

// A reply must be one the host understands for the event that was sent.
void checkReply(std::uint8_t code, const void* reply) {
    if (!reply) return;
    const std::string bytes = replyBytes(reply);
    const auto kind = static_cast<unsigned char>(bytes[4]);
    if (kind == 4) {
        FUZZ_CHECK(code == 7 && bytes.size() == 5, hex(bytes));
        return;
    }
    FUZZ_CHECK(kind == 2, hex(bytes));
    switch (code) {
        case 1:
            FUZZ_CHECK(bytes == int32(22) + '\x02' + counted(title) + int32(6), hex(bytes));
            break;
        case 6: FUZZ_CHECK(replyStrings(bytes).size() == 1, hex(bytes)); break;
        case 7: FUZZ_CHECK(replyStrings(bytes).size() == 2, hex(bytes)); break;
        default: fail("a reply to an event that has none", hex(bytes));
    }
}

// A record too short to carry an event code may still be a message to send
// whose length field is what was damaged: held back, unless the kind it does
// carry is not an event's.
void checkReplyToCodeless(const std::string& record, const void* reply) {
    if (!reply) return;
    const std::string bytes = replyBytes(reply);
    FUZZ_CHECK(bytes == std::string("\x01\x00\x00\x00\x04", 5), hex(bytes));
    FUZZ_CHECK(record.size() < 5 || record[4] == '\x03', hex(record));
}

void writeSetting(int which) {
    const Setting& s = settings[which];
    settingFolder = Scratch::freshFolder(s.folderName);
    Scratch::write(settingFolder + "/Mistlock.ini", s.settingsFile);
    Scratch::write(settingFolder + "/MistlockWho.ini", s.uinList);
    if (s.keyFileName) Scratch::write(settingFolder + "/" + s.keyFileName, s.keyFile);
}

// A plug-in freshly initialised in the chosen setting.
void reset(int which) {
    if (host::initialised()) call(event(2, ""));
    writeSetting(which);
    const void* reply = call(testing_records::initialise(callbackField(), settingFolder));
    checkReply(1, reply);
    FUZZ_CHECK(reply != nullptr && host::initialised() && setpassform::encryptionSwitch, settings[which].folderName);
    currentSetting = which;
    dirty = false;
}

// Nothing but the setting's own files may stay in its folder.
void checkNoStrayFiles() {
    if (!Scratch::exists(settingFolder)) return;
    for (const std::string& name : Scratch::list(settingFolder)) {
        const bool known = name == "Mistlock.ini" || name == "MistlockWho.ini" || name == "key.txt" ||
                           name.find(".bad") != std::string::npos || name.find(".kept") != std::string::npos;
        FUZZ_CHECK(known, name);
    }
}

// A message record: its counted string may claim any length, the record
// itself is always exactly as long as its length field says.
std::string messageRecord(Input& in, std::uint8_t code, std::int32_t uin, const std::string& text) {
    std::string fields = int32(uin) + int32(in.int32());
    if (code == 6) {
        std::string value = in.bytes(8);  // the double, never interpreted
        value.resize(8, '\0');
        fields += value;
    }
    const std::uint8_t shape = in.byte();
    if (shape & 1) {
        fields += int32(in.int32()) + text;  // a counted string that may lie
    } else {
        fields += counted(text);
    }
    fields += std::string(shape >> 6, '\x5A');  // bytes after the last field
    return event(code, fields);
}

std::string messageText(Input& in) {
    const std::uint8_t shape = in.byte();
    std::size_t n = in.byte();
    if (shape & 1) n |= static_cast<std::size_t>(in.byte()) << 8;
    std::string text = in.bytes(n);
    if (shape & 2) text = "#MSTLK:" + text;
    return text;
}

std::string withoutTrailingZeros(std::string text) {
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// Messages must never reach the toolkit's error box: the handlers turn every
// failure into a reply.
const void* messageEvent(const std::string& record, std::uint8_t code) {
    Boxes& boxes = watchBoxes();
    const int errorsBefore = boxes.errors, reentriesBefore = boxes.reentries;
    const void* reply = call(record);
    // (What the host did meanwhile from inside a box may show boxes of its own.)
    FUZZ_CHECK(boxes.errors == errorsBefore || boxes.reentries != reentriesBefore, hex(record));
    checkReply(code, reply);
    return reply;
}

void sendMessage(Input& in) {
    const std::uint8_t pick = in.byte();
    const std::int32_t uin = pick < 200 ? listedUins[pick % 4] : in.int32();
    const std::string text = messageText(in);
    const std::string record = messageRecord(in, 7, uin, text);
    Boxes& boxes = watchBoxes();
    const int messagesBefore = boxes.messages, reentriesBefore = boxes.reentries;
    const void* reply = messageEvent(record, 7);
    // The text as the record frames it: a counted string that claims more
    // than the record holds makes the record one that cannot be sealed, so it
    // goes nowhere while the switch is on, and is ignored while it is off.
    // (The host may have switched encryption off from inside the box that
    // explains the held-back message.)
    const std::int32_t n = readInt32(record.data(), 14);
    const std::size_t available = record.size() - 18;
    if (n > 0 && static_cast<std::size_t>(n) > available) {
        if (reply) {
            FUZZ_CHECK(replyBytes(reply)[4] == 4, hex(record));
            FUZZ_CHECK(setpassform::encryptionSwitch || boxes.reentries != reentriesBefore, hex(record));
        }
        return;
    }
    const std::string sentText = n > 0 ? record.substr(18, static_cast<std::size_t>(n)) : std::string();
    if (!reply) return;
    const std::string bytes = replyBytes(reply);
    if (bytes[4] == 4) {
        // A message that is not sent is always explained to the user.
        FUZZ_CHECK(boxes.messages == messagesBefore + 1 || boxes.reentries != reentriesBefore, hex(record));
        return;
    }
    const std::vector<std::string> strings = replyStrings(bytes);
    FUZZ_CHECK(strings[1] == sentText, hex(bytes));
    FUZZ_CHECK(strings[0].compare(0, 7, "#MSTLK:") == 0, strings[0]);
    // The other end, with the same key and code page, reads what was sent.
    const std::string received = testing_records::messageReceived(strings[0], uin);
    const void* opened = messageEvent(received, 6);
    FUZZ_CHECK(opened != nullptr, strings[0]);
    const std::vector<std::string> back = replyStrings(replyBytes(opened));
    if (sentText.empty()) {
        // The empty message seals to the bare length prefix, which opens to
        // the error line above the envelope as it arrived.
        const std::string tail = "\r\n" + strings[0];
        FUZZ_CHECK(back[0].size() > tail.size() && back[0].compare(back[0].size() - tail.size(), tail.size(), tail) == 0,
                   hex(back[0]));
    } else {
        FUZZ_CHECK(back[0] == withoutTrailingZeros(sentText), hex(sentText) + " came back as " + hex(back[0]));
    }
    FUZZ_CHECK(boxes.messages == messagesBefore || boxes.reentries != reentriesBefore,
               "a message box while sealing and opening");
}

void initialiseAgain(Input& in) {
    const std::uint8_t pick = in.byte();
    std::string folder;
    switch (pick % 6) {
        case 0: folder = settingFolder; break;
        case 1: folder = settingFolder + "\\"; break;
        case 2: folder = Scratch::root() + "/missing/deeper"; break;
        case 3: folder = ""; break;  // the current folder: the scratch folder
        case 4: folder = settingFolder + "/Mistlock.ini"; break;  // a file, not a folder
        case 5: folder = Scratch::root() + "/\xC0\xE9\xFF"; break;
    }
    const std::int32_t callback = (pick & 0x80) ? 0 : callbackField();
    const bool wasInitialised = host::initialised();
    const int reentriesBefore = watchBoxes().reentries;
    const void* reply = call(testing_records::initialise(callback, folder, in.shortString()));
    checkReply(1, reply);
    // A finalise from inside a box of the start ends it without a reply.
    FUZZ_CHECK((reply != nullptr) == !wasInitialised || watchBoxes().reentries != reentriesBefore, "");
    dirty = true;
}

void anyEvent(Input& in) {
    const std::uint8_t code = in.byte();
    std::string fields = in.shortString();
    if (code == 1) {
        // The host's callback and settings folder are its own business; an
        // initialise only comes from the structured path below.
        if (!host::initialised()) return;
        if (fields.size() >= 4) fields.replace(0, 4, int32(callbackField()));
    }
    const void* reply = call(event(code, fields));
    if (code != 6 && code != 7) FUZZ_CHECK(reply == nullptr || code == 1, "");
    checkReply(code, reply);
    if (code == 1 || code == 2) dirty = true;
}

void editDialog(Input& in) {
    setpassform::Tsetpass* dialog = setpassform::setpass;
    const std::uint8_t what = in.byte();
    if (!dialog) return;
    switch (what % 6) {
        case 0: dialog->Edit1.setText(platform::widen(in.shortString())); break;
        case 1: dialog->Edit2.setText(platform::widen(in.shortString())); break;
        case 2: dialog->Memo1.setText(platform::widen(in.shortString())); break;
        case 3: dialog->pass_check.setChecked(true); break;
        case 4: dialog->file_check.setChecked(true); break;
        case 5: dialog->SaveBtn.click(); break;  // closes the dialog, saving
    }
    dirty = true;
}

void structured(Input& in) {
    for (int ops = 0; ops < 24 && in.remaining() > 0; ++ops) {
        switch (in.byte() % 8) {
            case 0: {
                const std::uint8_t pick = in.byte();
                messageEvent(messageRecord(in, 6, pick, messageText(in)), 6);
                break;
            }
            case 1: sendMessage(in); break;
            case 2: anyEvent(in); break;
            case 3: initialiseAgain(in); break;
            case 4:
                call(event(2, in.shortString()));
                dirty = true;
                break;
            case 5: {
                const std::uint8_t pick = in.byte();
                host::toolbarButtonProc(pick < 250 ? pick % 4 : in.int32());
                dirty = true;
                break;
            }
            case 6: editDialog(in); break;
            case 7: {
                Boxes& boxes = watchBoxes();
                const int before = boxes.messages, reentriesBefore = boxes.reentries;
                const bool live = host::initialised();
                FUZZ_CHECK(call(event(3, in.shortString())) == nullptr, "");
                FUZZ_CHECK(boxes.messages == before + (live ? 1 : 0) || boxes.reentries != reentriesBefore,
                           "the about box");
                break;
            }
        }
    }
}

// The host calls in again while the next box of the plug-in is open (its UI
// goes on in the box's message loop). Whatever it does, the reply of the call
// that showed the box must still be well formed when that call returns, which
// checkReply() sees, and nothing may be used after it was freed.
void armReentry(Input& in) {
    const std::uint8_t kind = in.byte();
    std::string record;
    switch (kind % 5) {
        case 0: record = event(2, ""); break;
        case 1: record = event(3, ""); break;
        case 2: record = testing_records::messageReceived(messageText(in), 1); break;
        case 3: record = testing_records::messageToSend(listedUins[kind / 5 % 4], messageText(in)); break;
        case 4: break;
    }
    const std::int32_t button = in.byte() % 4;
    watchBoxes().whileOpen = [record, button] {
        dirty = true;
        if (record.empty()) {
            host::toolbarButtonProc(button);
            return;
        }
        const auto code = static_cast<std::uint8_t>(record[5]);
        checkReply(code, call(record));
    };
}

void patchCallback(std::string& record) {
    if (record.size() >= 10 && record[4] == '\x03' && record[5] == '\x01') record.replace(6, 4, int32(callbackField()));
}

void framed(Input& in) {
    const std::string body = in.rest();
    std::string record = testing_records::framed(body);
    patchCallback(record);
    const void* reply = call(record);
    if (record.size() <= 5) return checkReplyToCodeless(record, reply);
    const auto code = static_cast<std::uint8_t>(record[5]);
    checkReply(code, reply);
    if (code == 1 || code == 2) dirty = true;
}

void verbatim(Input& in) {
    std::string record = in.rest();
    if (record.size() < 4) return;  // not even a length field: the host's fault
    const std::int32_t length = readInt32(record.data(), 0);
    if (length <= 0) {
        record.resize(4);
    } else if (static_cast<std::size_t>(length) <= record.size() - 4) {
        record.resize(4 + static_cast<std::size_t>(length));
    } else {
        return;  // claims more than it has: the host's fault
    }
    patchCallback(record);
    const void* reply = call(record);
    if (record.size() <= 5) return checkReplyToCodeless(record, reply);
    const auto code = static_cast<std::uint8_t>(record[5]);
    checkReply(code, reply);
    if (code == 1 || code == 2) dirty = true;
}

// While an input runs, relative paths (an empty settings path, a relative
// key file) land in the scratch folder, never in the folder the run started
// in; between inputs the fuzzer reads its corpus from there.
class InScratchFolder {
public:
    InScratchFolder() : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (previous_ < 0 || ::chdir(Scratch::root().c_str()) != 0) fail("cannot enter the scratch folder");
    }
    ~InScratchFolder() {
        if (::fchdir(previous_) != 0) fail("cannot go back to the starting folder");
        ::close(previous_);
    }

private:
    int previous_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InScratchFolder scratch;
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    platform::headless::setAnsiCodePage(flags & 2 ? 1252 : 1251);
    watchBoxes();
    const int which = flags & 1;
    if (dirty || currentSetting != which || !host::initialised()) reset(which);
    if (flags & 0x10) armReentry(in);
    switch ((flags >> 2) & 3) {
        case 0:
        case 1: structured(in); break;
        case 2: framed(in); break;
        case 3: verbatim(in); break;
    }
    watchBoxes().whileOpen = nullptr;
    if (dirty) checkNoStrayFiles();
    return 0;
}
