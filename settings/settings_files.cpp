// The two settings files: "Mistlock.ini" (switch, key source, password,
// key-file path, one per line) and "MistlockWho.ini" (the UIN list as the memo
// holds it).
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "settings/text_file.h"

namespace setpassform {

namespace {

constexpr std::size_t settingsLineCount = 4;
constexpr const char16_t* lineBreak = u"\r\n";

// The encoding the UIN list was last read in; it is written back the same
// way, byte-order mark and all. A list that was not read from a file is
// written in the ANSI code page.
TextEncoding uinListEncoding = TextEncoding::Ansi;

std::string fewerLinesMessage(const std::u16string& path, std::size_t found) {
    return "The settings file \"" + utf8::encode(path) + "\" has fewer than four lines (it has " +
           std::to_string(found) + "), so the settings from line " + std::to_string(found + 1) +
           " on were not loaded.";
}

void loadUinList(Tsetpass& dialog) {
    const std::u16string path = settingsPath(uinListFileName);
    // The memo about to be filled (or left as created) has not come from a
    // file yet.
    uinListEncoding = TextEncoding::Ansi;
    if (!platform::fileExists(path)) return;
    const DecodedText file = readTextFile(path);
    dialog.Memo1.setText(normaliseLineBreaks(untilNul(file.text)));
    uinListEncoding = file.encoding;
}

void loadSettingsFile(Tsetpass& dialog) {
    const std::u16string path = settingsPath(settingsFileName);
    if (!platform::fileExists(path)) return;
    const std::vector<std::u16string> lines = splitLines(readTextFile(path).text);
    const std::size_t present = lines.size() < settingsLineCount ? lines.size() : settingsLineCount;
    for (std::size_t i = 0; i < present; ++i) {
        const std::u16string& line = lines[i];
        switch (i) {
            case 0: encryptionSwitch = line == u"on"; break;
            case 1:
                if (line == u"pass_check") {
                    dialog.pass_check.setChecked(true);
                } else {
                    dialog.file_check.setChecked(true);
                }
                break;
            case 2: dialog.Edit1.setText(line); break;
            case 3: dialog.Edit2.setText(line); break;
        }
    }
    if (present < settingsLineCount) throw Exception(fewerLinesMessage(path, present));
}

std::string settingsFileBytes(const Tsetpass& dialog) {
    std::u16string text;
    text += encryptionSwitch ? u"on" : u"off";
    text += lineBreak;
    text += dialog.pass_check.checked() ? u"pass_check" : u"file_check";
    text += lineBreak;
    text += dialog.Edit1.text();
    text += lineBreak;
    text += dialog.Edit2.text();
    text += lineBreak;
    return encodeText(text, TextEncoding::Ansi);
}

}  // namespace

void SaveSettings(Tsetpass& dialog) {
    // Each file is replaced in one step, so a failure leaves the old file
    // whole. When the settings file fails, the list is not touched either.
    platform::writeFileReplacing(settingsPath(settingsFileName), settingsFileBytes(dialog));
    SaveUinList(dialog);
}

void SaveUinList(Tsetpass& dialog) {
    platform::writeFileReplacing(settingsPath(uinListFileName), encodeText(dialog.Memo1.text(), uinListEncoding));
}

void LoadSettings(Tsetpass& dialog) {
    loadUinList(dialog);
    loadSettingsFile(dialog);
}

}  // namespace setpassform
