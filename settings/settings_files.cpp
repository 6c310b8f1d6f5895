// The two settings files: "Mistlock.ini" (switch, key source, password,
// key-file path, one per line) and "MistlockWho.ini" (the UIN list as the memo
// holds it).
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/lines.h"
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

// A file that did not load, from the load until the user confirms the dialog.
// Marking a file needs no memory: a failure to record the cause must not
// leave it counted as loaded.
struct Unloaded {
    bool failed = false;
    std::string cause;
    bool kept = false;  // its bytes have been kept beside it
};
Unloaded unloaded[2];

Unloaded& stateOf(SettingsFile file) { return unloaded[file == SettingsFile::Settings ? 0 : 1]; }
const char* nameOf(SettingsFile file) { return file == SettingsFile::Settings ? settingsFileName : uinListFileName; }

std::string quoted(const std::u16string& path) { return "\"" + utf8::encode(path) + "\""; }

// Where the bytes of a file that did not load go: the first of NAME.bad,
// NAME.bad2, ... that does not exist, so that an earlier copy is never lost.
std::u16string keptName(const std::u16string& path, int n) {
    return path + u".bad" + (n == 1 ? std::u16string() : platform::widen(std::to_string(n)));
}

std::u16string firstFreeKeptName(const std::u16string& path) {
    for (int n = 1; n < 1000; ++n) {
        const std::u16string candidate = keptName(path, n);
        if (!platform::fileExists(candidate)) return candidate;
    }
    throw EFileError("Cannot keep a copy of " + quoted(path) + ": " + quoted(keptName(path, 1)) +
                     " and 998 more copies are in the way. Move them elsewhere and try again.");
}

// The text of a file as it must load: whole, or not at all.
std::u16string wholeText(const DecodedText& file, const std::u16string& path) {
    if (file.oddByteDropped) {
        throw Exception("The file " + quoted(path) + " is marked as UTF-16 but ends in half a character.");
    }
    const std::u16string_view text = untilNul(file.text);
    if (text.size() < file.text.size() && file.text.find_first_not_of(u'\0', text.size()) != std::u16string::npos) {
        throw Exception("The file " + quoted(path) + " holds a NUL character after " + std::to_string(text.size()) +
                        " characters; the text after it would be lost.");
    }
    return std::u16string(text);
}

std::string fewerLinesMessage(const std::u16string& path, std::size_t found) {
    return "The settings file " + quoted(path) + " has fewer than four lines (it has " + std::to_string(found) +
           "), so the settings from line " + std::to_string(found + 1) + " on were not loaded.";
}

void loadUinList(Tsetpass& dialog) {
    const std::u16string path = settingsPath(uinListFileName);
    // The memo about to be filled (or left as created) has not come from a
    // file yet.
    uinListEncoding = TextEncoding::Ansi;
    if (!platform::fileExists(path)) return;
    const DecodedText file = readTextFile(path);
    uinListEncoding = file.encoding;
    dialog.Memo1.setText(normaliseLineBreaks(untilNul(file.text)));
    wholeText(file, path);
}

void loadSettingsFile(Tsetpass& dialog) {
    const std::u16string path = settingsPath(settingsFileName);
    if (!platform::fileExists(path)) return;
    const DecodedText file = readTextFile(path);
    // What follows a NUL is not read (wholeText() tells the user when that
    // loses anything).
    const std::vector<std::u16string> lines = platform::splitLines(untilNul(file.text));
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
    wholeText(file, path);
    if (present < settingsLineCount) throw Exception(fewerLinesMessage(path, present));
}

// Loads one file; what goes wrong marks it as not loaded and is told.
template <typename Load>
void loadOne(SettingsFile file, Tsetpass& dialog, const Load& load, std::string& report) {
    Unloaded& state = stateOf(file);
    state.failed = true;
    state.kept = false;
    std::string cause;
    try {
        load(dialog);
        state.failed = false;
        state.cause.clear();
        return;
    } catch (const std::exception& e) {
        cause = e.what();
    } catch (...) {
        cause = "Unexpected error.";
    }
    state.cause = cause;
    const std::u16string path = settingsPath(nameOf(file));
    if (!report.empty()) report += "\n\n";
    report += cause + "\nUntil this is mended, messages to your contacts are held back while encryption is on. "
                      "Mend the file and restart the messenger, or check the settings in this dialog and press OK. "
                      "Before Mistlock saves over the file, its content is kept beside it as " +
              quoted(keptName(path, 1)) + ".";
}

// Keeps the bytes of a file that did not load before it is first replaced.
// Returns a line for the user saying where they went, or nothing.
std::string keepIfUnloaded(SettingsFile file) {
    Unloaded& state = stateOf(file);
    if (!state.failed || state.kept) return {};
    const std::u16string path = settingsPath(nameOf(file));
    // A file that has gone since holds nothing to lose.
    if (!platform::fileExists(path)) {
        state.kept = true;
        return {};
    }
    const std::string bytes = platform::readFile(path);
    const std::u16string copy = firstFreeKeptName(path);
    platform::writeFileNew(copy, bytes);
    state.kept = true;
    return "The file " + quoted(path) + " could not be loaded when the messenger started; its old content is kept in " +
           quoted(copy) + ".";
}

// Replaces a settings file, keeping it first if it did not load.
void replaceFile(SettingsFile file, const std::string& bytes, std::string& notes) {
    const std::string note = keepIfUnloaded(file);
    if (!note.empty()) notes += (notes.empty() ? "" : "\n") + note;
    platform::writeFileReplacing(settingsPath(nameOf(file)), bytes);
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

std::string uinListBytes(const Tsetpass& dialog) { return encodeText(dialog.Memo1.text(), uinListEncoding); }

// Runs a save; where a file was kept aside the user learns where, whether the
// save then succeeded (a message box) or failed (in the error it raises).
template <typename Save>
void saveTelling(const Save& save) {
    std::string notes;
    try {
        save(notes);
    } catch (const std::exception& e) {
        if (notes.empty()) throw;
        throw Exception(std::string(e.what()) + "\n" + notes);
    }
    if (!notes.empty()) platform::messageBox(utf8::decode(notes).value_or(u""), u"Mistlock");
}

}  // namespace

bool loaded(SettingsFile file) { return !stateOf(file).failed; }
const std::string& loadFailure(SettingsFile file) { return stateOf(file).cause; }

void SaveSettings(Tsetpass& dialog) {
    // Each file is replaced in one step, so a failure leaves the old file
    // whole. When the settings file fails, the list is not touched either.
    saveTelling([&](std::string& notes) {
        replaceFile(SettingsFile::Settings, settingsFileBytes(dialog), notes);
        replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes);
    });
}

void SaveSwitch(Tsetpass& dialog) {
    saveTelling([&](std::string& notes) {
        replaceFile(SettingsFile::Settings, settingsFileBytes(dialog), notes);
        // The memo holds nothing of a list that did not load: writing it would
        // only replace the user's list with what the dialog was left with.
        if (loaded(SettingsFile::UinList)) {
            replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes);
        }
    });
}

void SaveUinList(Tsetpass& dialog) {
    saveTelling([&](std::string& notes) { replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes); });
}

void LoadSettings(Tsetpass& dialog) {
    std::string report;
    loadOne(SettingsFile::UinList, dialog, loadUinList, report);
    loadOne(SettingsFile::Settings, dialog, loadSettingsFile, report);
    if (!report.empty()) throw Exception(report);
}

void markSettingsUnloaded(const char* cause) noexcept {
    for (Unloaded& state : unloaded) {
        state.failed = true;
        state.kept = false;
        try {
            state.cause = cause;
        } catch (...) {
        }
    }
}

void confirmSettings() noexcept {
    for (Unloaded& state : unloaded) {
        state.failed = false;
        state.kept = false;
        state.cause.clear();
    }
}

}  // namespace setpassform
