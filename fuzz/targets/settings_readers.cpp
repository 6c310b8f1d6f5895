// The readers of everything the plug-in finds in its settings folder: text
// decoding with byte-order marks and line splitting, the settings file and the
// UIN list through a real dialog, the key file's first line, and the language
// file through the profile reader.
//
// The first byte picks the code page and the reader; the rest is the file.
// Checked beyond crashes and undefined behaviour:
//   - decoding gives back the very bytes it was given when encoded again in
//     the encoding it found (less an odd last byte of UTF-16);
//   - the settings reader's lines hold no line break or NUL, and normalising
//     the breaks neither changes the lines nor changes again; the dialog's
//     lines (no cut at a NUL) joined by CR LF give the normalised text;
//   - loading settings never writes a file and reports at most one error;
//     what a save writes loads again without an error and saves to the same
//     bytes, and no temporary file stays behind;
//   - a key file's first line holds no line break or NUL;
//   - profile values are at most 2047 characters and hold no line break, and
//     section and key names match in any letter case.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "envelope/key_block.h"
#include "fuzz/support/fuzz_support.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "platform/text_file.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "settings/translations.h"
#include "tests/support/module_state.h"

using namespace fuzzing;
using platform::TextEncoding;

namespace {

std::string utf8Of(std::u16string_view text) { return utf8::encode(text); }

bool hasBreakOrNul(std::u16string_view text) { return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != text.npos; }

void decoding(const std::string& bytes) {
    platform::DecodedText decoded;
    try {
        decoded = platform::decodeText(bytes, "fuzz input");
    } catch (const Exception&) {
        // Only a file marked as UTF-8 can be refused.
        FUZZ_CHECK(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 && !utf8::isValid(bytes.substr(3)), hex(bytes));
        return;
    }
    std::string expected = bytes;
    if ((decoded.encoding == TextEncoding::Utf16LE || decoded.encoding == TextEncoding::Utf16BE) &&
        expected.size() % 2 != 0) {
        expected.pop_back();
    }
    FUZZ_CHECK(platform::encodeText(decoded.text, decoded.encoding) == expected, hex(bytes));

    // The settings reader's lines: the text cut at its first NUL, then split.
    const std::vector<std::u16string> lines = platform::splitLines(platform::untilNul(decoded.text));
    for (const auto& line : lines) FUZZ_CHECK(!hasBreakOrNul(line), hex(bytes));
    const std::u16string normal = platform::normaliseLineBreaks(platform::untilNul(decoded.text));
    FUZZ_CHECK(platform::normaliseLineBreaks(normal) == normal, hex(bytes));
    FUZZ_CHECK(platform::splitLines(normal) == lines, hex(bytes));
    // The dialog's rule on the whole text, NULs and all: no line holds a
    // break, and the lines joined by CR LF give the text with every break made
    // CR LF, less one break at the very end.
    const std::vector<std::u16string> memoLines = platform::splitLines(decoded.text);
    std::u16string joined;
    for (std::size_t i = 0; i < memoLines.size(); ++i) {
        FUZZ_CHECK(memoLines[i].find_first_of(u"\r\n") == std::u16string::npos, hex(bytes));
        if (i > 0) joined += u"\r\n";
        joined += memoLines[i];
    }
    std::u16string everyBreak = platform::normaliseLineBreaks(decoded.text);
    if (everyBreak.size() >= 2 && everyBreak.compare(everyBreak.size() - 2, 2, u"\r\n") == 0) {
        everyBreak.resize(everyBreak.size() - 2);
    }
    FUZZ_CHECK(joined == everyBreak, hex(bytes));
    for (std::size_t i = 0; i < normal.size(); ++i) {
        if (normal[i] == u'\r') FUZZ_CHECK(i + 1 < normal.size() && normal[i + 1] == u'\n', hex(bytes));
        if (normal[i] == u'\n') FUZZ_CHECK(i > 0 && normal[i - 1] == u'\r', hex(bytes));
    }
}

struct DialogState {
    bool switchOn;
    bool password;
    std::u16string edit1, edit2, memo;
};

DialogState stateOf(const setpassform::Tsetpass& dialog) {
    return {setpassform::encryptionSwitch, dialog.pass_check.checked(), dialog.Edit1.text(), dialog.Edit2.text(),
            dialog.Memo1.text()};
}

std::string folderFiles(const std::string& folder) {
    std::string all;
    for (const std::string& name : Scratch::list(folder)) {
        all += name + "=" + hex(Scratch::read(folder + "/" + name)) + ";";
    }
    return all;
}

void settingsFiles(Input& in) {
    const std::uint8_t present = in.byte();
    std::size_t n = in.byte();
    n |= static_cast<std::size_t>(in.byte()) << 8;
    const std::string settingsFile = in.bytes(n);
    const std::string uinList = in.rest();

    const std::string folder = Scratch::freshFolder("settings");
    if (present & 1) Scratch::write(folder + "/Mistlock.ini", settingsFile);
    if (present & 2) Scratch::write(folder + "/MistlockWho.ini", uinList);
    setpassform::settingsFolder = folder + "\\";
    setpassform::encryptionSwitch = false;
    setpassform::resetTranslations();

    Boxes& boxes = watchBoxes();
    boxes.clear();
    const std::string before = folderFiles(folder);
    setpassform::Tsetpass first;
    FUZZ_CHECK(boxes.messages == 0 && boxes.errors <= 1, hex(settingsFile));
    FUZZ_CHECK(folderFiles(folder) == before, "loading the settings changed a file");
    const bool failed[2] = {!setpassform::loaded(setpassform::SettingsFile::Settings),
                            !setpassform::loaded(setpassform::SettingsFile::UinList)};
    FUZZ_CHECK((failed[0] || failed[1]) == (boxes.errors == 1), hex(settingsFile));

    // Saving, loading and saving again reaches the same bytes, and what was
    // saved always loads.
    setpassform::SaveSettings(first);
    const std::string saved = folderFiles(folder);
    const DialogState firstState = stateOf(first);
    boxes.clear();
    setpassform::encryptionSwitch = !setpassform::encryptionSwitch;
    setpassform::Tsetpass second;
    FUZZ_CHECK(boxes.errors == 0, utf8Of(boxes.lastText));
    const DialogState secondState = stateOf(second);
    FUZZ_CHECK(secondState.switchOn == firstState.switchOn && secondState.password == firstState.password, saved);
    FUZZ_CHECK(platform::narrow(secondState.edit1) == platform::narrow(firstState.edit1), saved);
    FUZZ_CHECK(platform::narrow(secondState.edit2) == platform::narrow(firstState.edit2), saved);
    setpassform::SaveSettings(second);
    FUZZ_CHECK(folderFiles(folder) == saved, saved);
    // A file that did not load is kept, byte for byte, before it is replaced
    // (NAME.bad); one that loaded is kept so (NAME.kept) only when the save
    // would not carry all it held.
    std::vector<std::string> names = Scratch::list(folder);
    const struct {
        std::string name;
        bool failed;
        const std::string& original;
    } files[] = {{"Mistlock.ini", failed[0], settingsFile}, {"MistlockWho.ini", failed[1], uinList}};
    for (const auto& f : files) {
        const std::string bad = f.name + ".bad", kept = f.name + ".kept";
        FUZZ_CHECK(Scratch::exists(folder + "/" + bad) == f.failed, folderFiles(folder));
        FUZZ_CHECK(!(f.failed && Scratch::exists(folder + "/" + kept)), folderFiles(folder));
        for (const std::string& copy : {bad, kept}) {
            if (!Scratch::exists(folder + "/" + copy)) continue;
            FUZZ_CHECK(Scratch::read(folder + "/" + copy) == f.original, folderFiles(folder));
            names.erase(std::find(names.begin(), names.end(), copy));
        }
    }
    FUZZ_CHECK(names == (std::vector<std::string>{"Mistlock.ini", "MistlockWho.ini"}), folderFiles(folder));
}

void keyFile(const std::string& bytes) {
    const std::string folder = Scratch::freshFolder("key");
    Scratch::write(folder + "/key.txt", bytes);
    try {
        const std::u16string line = envelope::readKeyFileFirstLine(platform::widen(folder + "/key.txt"));
        FUZZ_CHECK(!hasBreakOrNul(line), hex(bytes));
    } catch (const Exception&) {
    } catch (const std::exception& e) {
        fail("a key file failure that names no file", e.what());
    }
}

std::u16string flipCase(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        else if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return text;
}

void languageFile(Input& in) {
    const std::u16string section = platform::widen(in.shortString());
    const std::u16string key = platform::widen(in.shortString());
    const std::string bytes = in.rest();
    const std::string folder = Scratch::freshFolder("language");
    Scratch::write(folder + "/Mistlock.lng", bytes);
    const std::u16string path = platform::widen(folder + "/Mistlock.lng");

    const auto value = platform::readProfileString(path, section, key);
    if (value) FUZZ_CHECK(value->size() <= 2047 && value->find_first_of(u"\r\n") == value->npos, hex(bytes));
    FUZZ_CHECK(platform::readProfileString(path, flipCase(section), flipCase(key)) == value, hex(bytes));

    setpassform::settingsFolder = folder + "\\";
    setpassform::resetTranslations();
    setpassform::LoadTranslations();
    for (int i = 0; i < setpassform::textCount; ++i) {
        const std::u16string& text = setpassform::uiText(static_cast<setpassform::Text>(i));
        FUZZ_CHECK(text.size() <= 2047 && text.find_first_of(u"\r\n") == text.npos, hex(bytes));
    }
    setpassform::resetTranslations();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    platform::headless::setAnsiCodePage(flags & 1 ? 1252 : 1251);
    watchBoxes();
    switch ((flags >> 1) % 4) {
        case 0: decoding(in.rest()); break;
        case 1: settingsFiles(in); break;
        case 2: keyFile(in.rest()); break;
        case 3: languageFile(in); break;
    }
    return 0;
}
