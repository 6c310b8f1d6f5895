#include "tools/cli/key_source.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "envelope/key_block.h"
#include "envelope/sealed.h"
#include "platform/text_file.h"
#include "platform/utf8.h"

namespace cli {

namespace {

bool hasByteOrderMark(std::string_view bytes) {
    for (const std::string_view mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
        if (bytes.substr(0, mark.size()) == mark) return true;
    }
    return false;
}

// The first line of a file's text, up to its first CR, LF or NUL. A file
// without any line is an error.
std::u16string firstLine(const std::u16string& text, const std::string& description) {
    if (text.empty() || text[0] == u'\0') {
        throw Exception(description + " is empty: its first line is used.");
    }
    return text.substr(0, text.find_first_of(std::u16string_view(u"\r\n\0", 3)));
}

// A UTF-8 sequence cut short by the end of what was read: not the file's fault.
void dropCutSequence(std::string& bytes) {
    std::size_t continuation = 0;
    while (continuation < 3 && continuation < bytes.size() &&
           (static_cast<unsigned char>(bytes[bytes.size() - 1 - continuation]) & 0xC0) == 0x80) {
        ++continuation;
    }
    if (continuation == bytes.size()) return;
    const auto lead = static_cast<unsigned char>(bytes[bytes.size() - 1 - continuation]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > continuation + 1) bytes.resize(bytes.size() - 1 - continuation);
}

// The first secretFileLimit bytes of a key or password file, read once.
std::string leadingBytesOf(Console& console, const std::string& path, const char* what) {
    const auto file = console.openFile(path, what);
    std::string bytes(secretFileLimit + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const std::size_t n = file->read(bytes.data() + filled, bytes.size() - filled);
        if (n == 0) break;
        filled += n;
    }
    const bool cut = filled > secretFileLimit;
    const std::size_t kept = cut ? secretFileLimit : filled;
    ElAES::wipe(bytes.data() + kept, bytes.size() - kept);
    bytes.resize(kept);
    if (cut) dropCutSequence(bytes);
    return bytes;
}

std::string pathOf(const Invocation& invocation) {
    if (!utf8::isValid(invocation.keyValue)) {
        throw UsageError(std::string("The file name after ") +
                             (invocation.keyKind == KeyKind::KeyFile ? "--key-file" : "--password-file") +
                             " is not valid UTF-8.",
                         invocation.command);
    }
    return invocation.keyValue;
}

}  // namespace

std::u16string keyFileText(std::string_view leadingBytes, unsigned codePage, const std::string& name,
                           bool* utf8WithoutMark) {
    if (utf8WithoutMark) {
        const std::string_view line = leadingBytes.substr(0, leadingBytes.find_first_of(std::string_view("\r\n\0", 3)));
        const bool beyondAscii =
            std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        *utf8WithoutMark = !hasByteOrderMark(leadingBytes) && beyondAscii && utf8::isValid(line);
    }
    // The plug-in reads a file without a mark in the system's code page,
    // which on the peers' machines is the peers' one; and refuses the same files.
    return envelope::keyFileFirstLine(leadingBytes, codePage, name);
}

std::u16string passwordFileText(std::string_view leadingBytes, const std::string& name) {
    const std::string description = "The password file \"" + name + "\"";
    if (hasByteOrderMark(leadingBytes)) {
        platform::DecodedText decoded = platform::decodeText(leadingBytes, name);
        const ElAES::WipeOnExit wipeText(decoded.text);
        return firstLine(decoded.text, description);
    }
    auto text = utf8::decode(leadingBytes);
    if (!text) {
        throw Exception(description +
                        " is not valid UTF-8. Save it as UTF-8, or use --key-file for a file in the code page.");
    }
    const ElAES::WipeOnExit wipeText(*text);
    return firstLine(*text, description);
}

// The keys of a key text, which is wiped then, in place.
envelope::MessageKeys keysOf(std::u16string&& keyText, KeyNotes* notes, bool sealed = false) {
    const ElAES::WipeOnExit wipeKeyText(keyText);
    if (notes) {
        notes->units = keyText.size();
        notes->sealed = sealed;
    }
    envelope::MessageKeys keys{envelope::keyBlockFromText(keyText), std::nullopt};
    if (sealed) keys.sealed = envelope::sealed::keyFromText(keyText);
    return keys;
}

envelope::MessageKeys keysFor(const Invocation& invocation, Console& console, KeyNotes* notes, bool confirm) {
    switch (invocation.keyKind) {
        case KeyKind::Password: {
            auto password = utf8::decode(invocation.keyValue);
            if (!password) throw UsageError("The password is not valid UTF-8.", invocation.command);
            return keysOf(std::move(*password), notes);
        }
        case KeyKind::PasswordFile: {
            const std::string path = pathOf(invocation);
            std::string bytes = leadingBytesOf(console, path, "password file");
            const ElAES::WipeOnExit wipeBytes(bytes);
            return keysOf(passwordFileText(bytes, path), notes);
        }
        case KeyKind::KeyFile: {
            const std::string path = pathOf(invocation);
            std::string bytes = leadingBytesOf(console, path, "key file");
            const ElAES::WipeOnExit wipeBytes(bytes);
            std::u16string keyText =
                keyFileText(bytes, invocation.codePage, path, notes ? &notes->utf8WithoutMark : nullptr);
            return keysOf(std::move(keyText), notes, envelope::marksSealedKeyFile(bytes, invocation.codePage));
        }
        case KeyKind::Prompt: break;
    }
    auto typed = console.askPassword("Password: ");
    if (!typed) {
        throw UsageError(
            "No key given, and no terminal to ask for the password: "
            "use --password, --password-file or --key-file.",
            invocation.command);
    }
    const ElAES::WipeOnExit wipeTyped(*typed);
    if (confirm) {
        // A typing error unseen would seal the message under a key nobody has.
        auto again = console.askPassword("Repeat the password: ");
        const bool same = again && *again == *typed;
        if (again) ElAES::wipe(*again);
        if (!same) throw Exception("The two passwords typed differ: nothing is sealed.");
    }
    auto password = utf8::decode(*typed);
    if (!password) throw UsageError("The password typed is not valid UTF-8.", invocation.command);
    return keysOf(std::move(*password), notes);
}

std::string keyWarnings(const KeyNotes& notes, unsigned codePage, bool sealing) {
    std::string text;
    if (sealing && !notes.sealed && notes.units > 0 && notes.units < 16) {
        text += "mistlock: warning: the key is short: " + std::to_string(notes.units) +
                " characters fill only " + std::to_string(notes.units) +
                " of the key block's 32 bytes. 'mistlock keygen' makes a full-strength key file.\n";
    }
    if (notes.utf8WithoutMark) {
        text += "mistlock: hint: the key file has no byte-order mark, so it is read in code page " +
                std::to_string(codePage) +
                ", as the plug-in reads it; but its first line is also valid UTF-8 beyond ASCII. If it was saved "
                "as UTF-8, save it again as UTF-8 with a byte-order mark (\"UTF-8 with BOM\"), or each side may "
                "read another key. 'mistlock key-id' shows the code to compare.\n";
    }
    return text;
}

std::u16string newKeyText(const std::function<void(unsigned char*, std::size_t)>& random) {
    std::u16string text;
    unsigned char pair[2];
    const ElAES::WipeOnExit wipePair(pair);
    while (text.size() < 32) {
        random(pair, 2);
        const auto unit = static_cast<char16_t>(pair[0] | pair[1] << 8);
        if (unit == 0 || unit == u'\n' || unit == u'\r' || (unit >= 0xD800 && unit <= 0xDFFF)) continue;
        text += unit;
    }
    return text;
}

std::string keyFileBytes(std::u16string_view keyText, bool sealed) {
    std::u16string note =
        u"\r\nMistlock key file: the first line is the key. Keep it secret, and do not edit this file.\r\n";
    if (sealed) note += std::u16string(envelope::sealedKeyFileLine) + u"\r\n";
    std::string bytes = "\xFF\xFE";
    for (const std::u16string_view part : {keyText, std::u16string_view(note)}) {
        for (const char16_t unit : part) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    }
    return bytes;
}

}  // namespace cli
