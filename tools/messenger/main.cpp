// mistlock-messenger: a reference messenger. It loads a plug-in library and
// drives it from a script on standard input, one command a line:
//
//   init FOLDER        initialise event, FOLDER as the settings path
//   send UIN TEXT      message-to-send event
//   recv TEXT          message-received event
//   about | finalise | button N
//   raw HEX            an arbitrary event record, given whole in hex
//
// With --occupy-base the messenger takes the plug-in's preferred base (under
// Windows all free memory below 4 GB) while it loads the library, so that the
// library lands elsewhere, and prints where ("type":"plugin").
//
// TEXT is UTF-8 (converted to its ANSI code page, as a messenger
// would) or "hex:" followed by raw bytes. Every reply, every command record the
// plug-in sends and every message box it shows is printed as one JSON object a
// line. Lines that are empty or start with '#' are skipped.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hex.h"
#include "tools/messenger/json_line.h"
#include "tools/messenger/messenger_platform.h"

namespace messenger {

namespace {

PluginFun pluginFun = nullptr;
std::int32_t nextButtonId = 1;
std::string hostReply;  // the host reply stays valid while the plug-in reads it
std::uint32_t buttonProcedure = 0;

std::int32_t readInt32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

std::string int32Bytes(std::int32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
    return out;
}

std::string countedString(const std::string& s) { return int32Bytes(static_cast<std::int32_t>(s.size())) + s; }

std::string recordBytes(const void* record) {
    const auto* p = static_cast<const std::uint8_t*>(record);
    const std::int32_t length = readInt32(p);
    return std::string(reinterpret_cast<const char*>(p), 4 + static_cast<std::size_t>(length > 0 ? length : 0));
}

// Reads counted strings and integers from a record, never past its end.
class RecordReader {
public:
    explicit RecordReader(std::string bytes, std::size_t offset) : bytes_(std::move(bytes)), offset_(offset) {}
    bool integer(std::int32_t& out) {
        if (offset_ + 4 > bytes_.size()) return false;
        out = readInt32(reinterpret_cast<const std::uint8_t*>(bytes_.data()) + offset_);
        offset_ += 4;
        return true;
    }
    bool counted(std::string& out) {
        std::int32_t n;
        if (!integer(n)) return false;
        const std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (offset_ + len > bytes_.size()) return false;
        out = bytes_.substr(offset_, len);
        offset_ += len;
        return true;
    }

private:
    std::string bytes_;
    std::size_t offset_;
};

void addText(JsonLine& line, const char* key, const std::string& ansi) {
    line.add(key, fromAnsi(ansi));
    line.add(std::string(key) + "_hex", platform::toHex(ansi));
}

// The host callback: answers the three toolbar-button commands as a messenger would.
const void* hostCallback(const void* commandRecord) {
    const std::string bytes = recordBytes(commandRecord);
    JsonLine line("command");
    const int code = bytes.size() > 5 ? static_cast<std::uint8_t>(bytes[5]) : -1;
    line.add("code", code);
    RecordReader reader(bytes, 6);
    std::int32_t first = 0, icon = 0;
    std::string title, second;
    std::int32_t answeredId = 0;
    switch (code) {
        case 0xC9:
            line.add("name", "add-button");
            if (reader.integer(first) && reader.integer(icon) && reader.counted(title) && reader.counted(second)) {
                buttonProcedure = static_cast<std::uint32_t>(first);
                line.add("procedure", toHexNumber(static_cast<std::uint32_t>(first)));
                line.add("icon", toHexNumber(static_cast<std::uint32_t>(icon)));
                line.add("icon_name", iconName(static_cast<std::uint32_t>(icon)));
                addText(line, "title", title);
                addText(line, "text2", second);
            }
            answeredId = nextButtonId++;
            line.add("button_id", answeredId);
            break;
        case 0xCA:
            line.add("name", "update-button");
            if (reader.integer(first) && reader.integer(icon) && reader.counted(title) && reader.counted(second)) {
                line.add("button_id", first);
                line.add("icon", toHexNumber(static_cast<std::uint32_t>(icon)));
                line.add("icon_name", iconName(static_cast<std::uint32_t>(icon)));
                addText(line, "title", title);
                addText(line, "text2", second);
            }
            break;
        case 0xCB:
            line.add("name", "remove-button");
            if (reader.integer(first)) line.add("button_id", first);
            break;
        default:
            line.add("name", "unknown");
            break;
    }
    line.add("hex", platform::toHex(bytes));
    line.print();
    hostReply = int32Bytes(4) + int32Bytes(answeredId);
    return hostReply.data();
}

void printReply(const std::string& event, const void* reply) {
    JsonLine line("reply");
    line.add("event", event);
    if (!reply) {
        line.addNull("kind");
        line.print();
        return;
    }
    const std::string bytes = recordBytes(reply);
    const int kind = bytes.size() > 4 ? static_cast<std::uint8_t>(bytes[4]) : -1;
    line.add("kind", kind == 2 ? "data" : kind == 4 ? "cancel" : "other");
    RecordReader reader(bytes, 5);
    std::string text, original;
    std::int32_t integer = 0;
    if (kind == 2) {
        if (event == "init") {
            if (reader.counted(text)) addText(line, "title", text);
            if (reader.integer(integer)) line.add("integer", integer);
        } else if (reader.counted(text)) {
            addText(line, "text", text);
            if (event == "send" && reader.counted(original)) addText(line, "original", original);
        }
    }
    line.add("hex", platform::toHex(bytes));
    line.print();
}

std::string eventRecord(std::uint8_t code, const std::string& fields) {
    std::string body;
    body += static_cast<char>(3);
    body += static_cast<char>(code);
    body += fields;
    return int32Bytes(static_cast<std::int32_t>(body.size())) + body;
}

std::string messageText(const std::string& text) {
    if (text.rfind("hex:", 0) == 0) return fromHex(text.substr(4));
    return toAnsi(text);
}

std::string doubleBytes(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

const void* callPlugin(const std::string& record) {
    // The record lives until the plug-in has answered; the reply is printed at once.
    static std::string current;
    current = record;
    return pluginFun(current.data());
}

void usageError(const std::string& message) {
    JsonLine line("error");
    line.add("message", message);
    line.print();
}

void runCommand(const std::string& command, const std::string& rest) {
    if (command == "init") {
        const auto callback = reinterpret_cast<std::uintptr_t>(&hostCallback);
        std::string fields = int32Bytes(static_cast<std::int32_t>(callback)) + int32Bytes(0) +
                             countedString("") + countedString(toAnsi(hostPath(rest))) + int32Bytes(0);
        printReply("init", callPlugin(eventRecord(1, fields)));
    } else if (command == "finalise") {
        printReply("finalise", callPlugin(eventRecord(2, "")));
    } else if (command == "about") {
        printReply("about", callPlugin(eventRecord(3, "")));
    } else if (command == "send") {
        std::istringstream in(rest);
        long long uin = 0;
        if (!(in >> uin)) return usageError("send needs a UIN and a text");
        std::string text;
        std::getline(in, text);
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        const std::string fields = int32Bytes(static_cast<std::int32_t>(uin)) + int32Bytes(0) + countedString(messageText(text));
        printReply("send", callPlugin(eventRecord(7, fields)));
    } else if (command == "recv") {
        const std::string fields =
            int32Bytes(0) + int32Bytes(0) + doubleBytes(0.0) + countedString(messageText(rest));
        printReply("recv", callPlugin(eventRecord(6, fields)));
    } else if (command == "raw") {
        printReply("raw", callPlugin(fromHex(rest)));
    } else if (command == "button") {
        if (buttonProcedure == 0) return usageError("the plug-in has added no button");
        // The button procedure is reached through the 32 bits the plug-in gave.
        const auto procedure = reinterpret_cast<ButtonProc>(static_cast<std::intptr_t>(static_cast<std::int32_t>(buttonProcedure)));
        procedure(static_cast<std::int32_t>(std::stol(rest.empty() ? "0" : rest)));
        JsonLine line("button");
        line.add("code", static_cast<std::int32_t>(std::stol(rest.empty() ? "0" : rest)));
        line.print();
    } else {
        usageError("unknown command: " + command);
    }
    pumpMessages();
}

}  // namespace

int run(int argc, char** argv) {
    Options options;
    std::string pluginPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--codepage" && i + 1 < argc) {
            options.codePage = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (arg == "--occupy-base") {
            options.occupyPreferredBase = true;
        } else if (arg == "-h" || arg == "--help") {
            std::puts("usage: mistlock-messenger [--codepage 1251|1252] [--occupy-base] PLUGIN < script");
            return 0;
        } else {
            pluginPath = arg;
        }
    }
    if (pluginPath.empty()) {
        std::fputs("usage: mistlock-messenger [--codepage 1251|1252] [--occupy-base] PLUGIN < script\n", stderr);
        return 2;
    }
    pluginFun = loadPlugin(pluginPath, options, [](const MessageBoxSeen& box) {
        JsonLine line("message_box");
        line.add("caption", box.caption);
        line.add("text", box.text);
        line.add("error", box.error);
        line.print();
    });
    if (options.occupyPreferredBase) {
        // Where the loader put the plug-in instead, for the check that follows.
        const auto base = static_cast<std::uint64_t>(pluginBase());
        JsonLine line("plugin");
        line.add("base", toHexNumber(static_cast<std::uint32_t>(base >> 32)) + toHexNumber(static_cast<std::uint32_t>(base)).substr(2));
        line.print();
    }
    std::string scriptLine;
    while (std::getline(std::cin, scriptLine)) {
        if (!scriptLine.empty() && scriptLine.back() == '\r') scriptLine.pop_back();
        if (scriptLine.empty() || scriptLine[0] == '#') continue;
        const auto space = scriptLine.find(' ');
        const std::string command = scriptLine.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : scriptLine.substr(space + 1);
        try {
            runCommand(command, rest);
        } catch (const std::exception& e) {
            usageError(std::string("bad command line: ") + e.what());
        }
    }
    return 0;
}

}  // namespace messenger

int main(int argc, char** argv) { return messenger::run(argc, argv); }
