// The two settings files: "Mistlock.ini" (switch, key source, password,
// key-file path, one per line) and "MistlockWho.ini" (the UIN list as the memo
// holds it).
#include <optional>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "platform/utf8.h"
#include "settings/kept_copies.h"
#include "settings/setpassform.h"

namespace setpassform {

namespace {

constexpr std::size_t settingsLineCount = 4;
constexpr const char16_t* lineBreak = u"\r\n";

// The encoding the UIN list was last read in; it is written back the same
// way, byte-order mark and all. A list that was not read from a file is
// written in the ANSI code page.
platform::TextEncoding uinListEncoding = platform::TextEncoding::Ansi;

// What is known of each file on disk. Marking a file as not loaded needs no
// memory: a failure to record the cause must not leave it counted as loaded.
FileRecord records[2];

FileRecord& recordOf(SettingsFile file) { return records[file == SettingsFile::Settings ? 0 : 1]; }
const char* nameOf(SettingsFile file) { return file == SettingsFile::Settings ? settingsFileName : uinListFileName; }

// The text of a file as it must load: whole, or not at all.
std::u16string wholeText(const platform::DecodedText& file, const std::u16string& path) {
    if (file.oddByteDropped) {
        throw Exception("The file " + quotedPath(path) + " is marked as UTF-16 but ends in half a character.");
    }
    const std::u16string_view text = platform::untilNul(file.text);
    if (text.size() < file.text.size() && file.text.find_first_not_of(u'\0', text.size()) != std::u16string::npos) {
        throw Exception("The file " + quotedPath(path) + " holds a NUL character after " + std::to_string(text.size()) +
                        " characters; the text after it would be lost.");
    }
    return std::u16string(text);
}

std::string fewerLinesMessage(const std::u16string& path, std::size_t found) {
    return "The settings file " + quotedPath(path) + " has fewer than four lines (it has " + std::to_string(found) +
           "), so the settings from line " + std::to_string(found + 1) + " on were not loaded.";
}

// The bytes of a settings file, none when nothing is at its path at all. A
// folder, a link to nothing or a pipe in its place is not the user's file,
// and not a fresh install either: it does not load.
std::optional<std::string> bytesAt(const std::u16string& path) {
    switch (platform::pathKind(path)) {
        case platform::PathKind::Nothing: return std::nullopt;
        case platform::PathKind::File: return platform::readFile(path);
        case platform::PathKind::Other: break;
    }
    throw Exception("The file " + quotedPath(path) +
                    " is not a file Mistlock can read: a folder, a link to a file that is not there, or a pipe or "
                    "device stands in its place. Put the file itself there, or remove what stands in its way.");
}

std::optional<std::string> loadUinList(Tsetpass& dialog) {
    const std::u16string path = settingsPath(uinListFileName);
    // The memo about to be filled (or left as created) has not come from a
    // file yet.
    uinListEncoding = platform::TextEncoding::Ansi;
    std::optional<std::string> bytes = bytesAt(path);
    if (!bytes) return bytes;
    const platform::DecodedText file = platform::decodeText(*bytes, utf8::encode(path));
    uinListEncoding = file.encoding;
    dialog.Memo1.setText(platform::normaliseLineBreaks(platform::untilNul(file.text)));
    wholeText(file, path);
    return bytes;
}

std::optional<std::string> loadSettingsFile(Tsetpass& dialog) {
    const std::u16string path = settingsPath(settingsFileName);
    std::optional<std::string> bytes = bytesAt(path);
    if (!bytes) return bytes;
    const platform::DecodedText file = platform::decodeText(*bytes, utf8::encode(path));
    // What follows a NUL is not read (wholeText() tells the user when that
    // loses anything).
    const std::vector<std::u16string> lines = platform::splitLines(platform::untilNul(file.text));
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
    return bytes;
}

// Loads one file; what goes wrong marks it as not loaded and is told. What
// it holds that a save of what loaded would not write back is noted, so that
// the first save keeps it.
template <typename Load, typename Save>
void loadOne(SettingsFile file, Tsetpass& dialog, const Load& load, const Save& save, std::string& report) {
    FileRecord& record = recordOf(file);
    record.failed = true;
    record.onDisk.reset();
    record.replaceable = false;
    const std::u16string path = settingsPath(nameOf(file));
    std::string cause;
    try {
        record.onDisk = load(dialog);
        record.replaceable = !record.onDisk || carriesAll(*record.onDisk, save(dialog));
        record.failed = false;
        return;
    } catch (const std::exception& e) {
        cause = e.what();
    } catch (...) {
        cause = "The file " + quotedPath(path) + " could not be loaded.";
    }
    record.onDisk.reset();
    if (!report.empty()) report += "\n\n";
    report += cause + "\nUntil this is mended, messages to your contacts are held back while encryption is on. "
                      "Mend the file and restart the messenger, or check the settings in this dialog and press OK. "
                      "Before Mistlock saves over the file, its content is kept beside it as " +
              quotedPath(unloadedCopyName(path)) + ".";
}

// Replaces a settings file, keeping first whatever of it the user could miss.
void replaceFile(SettingsFile file, const std::string& bytes, std::string& notes) {
    FileRecord& record = recordOf(file);
    const std::u16string path = settingsPath(nameOf(file));
    const std::string note = keepBeforeReplacing(path, record, bytes);
    if (!note.empty()) notes += (notes.empty() ? "" : "\n") + note;
    std::optional<std::string> written = bytes;
    platform::writeFileReplacing(path, bytes);
    record.onDisk.swap(written);
    record.replaceable = true;
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
    return platform::encodeTextWhole(text, platform::TextEncoding::Ansi);
}

std::string uinListBytes(const Tsetpass& dialog) {
    return platform::encodeTextWhole(dialog.Memo1.text(), uinListEncoding);
}

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

bool loaded(SettingsFile file) { return !recordOf(file).failed; }

void SaveSettings(Tsetpass& dialog) {
    // Each file is replaced in one step, so a failure leaves the old file
    // whole. When the settings file fails, the list is not touched either.
    saveTelling([&](std::string& notes) {
        replaceFile(SettingsFile::Settings, settingsFileBytes(dialog), notes);
        replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes);
    });
}

void SaveSwitch(Tsetpass& dialog) {
    // Of a file that did not load the dialog holds a fragment at best, which,
    // written, would load at the next start as if it were the user's
    // settings: such a file waits until the user has confirmed the dialog.
    saveTelling([&](std::string& notes) {
        if (loaded(SettingsFile::Settings)) {
            replaceFile(SettingsFile::Settings, settingsFileBytes(dialog), notes);
        }
        if (loaded(SettingsFile::UinList)) {
            replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes);
        }
    });
}

void SaveUinList(Tsetpass& dialog) {
    if (!loaded(SettingsFile::UinList)) return;
    saveTelling([&](std::string& notes) { replaceFile(SettingsFile::UinList, uinListBytes(dialog), notes); });
}

void LoadSettings(Tsetpass& dialog) {
    std::string report;
    loadOne(SettingsFile::UinList, dialog, loadUinList, uinListBytes, report);
    loadOne(SettingsFile::Settings, dialog, loadSettingsFile, settingsFileBytes, report);
    if (!report.empty()) throw Exception(report);
}

void markSettingsUnloaded() noexcept {
    for (FileRecord& record : records) {
        record.failed = true;
        record.onDisk.reset();
        record.replaceable = false;
    }
}

void confirmSettings() noexcept {
    for (FileRecord& record : records) record.failed = false;
}

}  // namespace setpassform
