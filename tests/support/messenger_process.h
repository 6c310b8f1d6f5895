#pragma once
// Runs the reference messenger (mistlock-messenger) as its own process over a
// script and reads back the JSON lines it prints, as an outside check would.
#include <map>
#include <string>
#include <vector>

namespace messenger_process {

// One printed line: a flat JSON object. Values keep their JSON spelling for
// numbers, true, false and null; strings are unescaped.
struct Line {
    std::map<std::string, std::string> fields;
    std::string raw;
    bool has(const std::string& key) const { return fields.count(key) != 0; }
    std::string operator[](const std::string& key) const;
};

Line parseLine(const std::string& json);

// Runs the reference messenger with the plug-in of this build over the
// script. codePage 0 leaves the messenger's default; natively a code page is
// passed on, under Windows the locale of the test decides. messengerOptions go
// on the messenger's command line before the plug-in's path.
std::vector<Line> runMessenger(const std::string& script, unsigned codePage = 0, const std::string& messengerOptions = "");

// The lines of one type ("reply", "command", "message_box", ...).
std::vector<Line> ofType(const std::vector<Line>& lines, const std::string& type);

// The code page the test program runs under (see MISTLOCK_TEST_CODEPAGE).
unsigned testCodePage();

}  // namespace messenger_process
