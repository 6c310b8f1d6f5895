#include "tools/cli/key_source.h"

#include <string_view>
#include <utility>

#include "envelope/key_block.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/text_file.h"

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

std::u16string pathOf(const Invocation& invocation, const char* option) {
    auto path = utf8::decode(invocation.keyValue);
    if (!path) {
        throw UsageError(std::string("The file name after ") + option + " is not valid UTF-8.", invocation.command);
    }
    return *path;
}

void requireFile(const std::u16string& path, const std::string& description) {
    if (!platform::fileExists(path)) throw Exception(description + " does not exist, or is not a file.");
}

}  // namespace

std::u16string keyFileText(const std::u16string& path, unsigned codePage) {
    const std::string description = "The key file \"" + utf8::encode(path) + "\"";
    requireFile(path, description);
    std::string bytes = platform::readFile(path);
    const ElAES::WipeOnExit wipeBytes(bytes);
    // The plug-in reads a file without a mark in the system's code page,
    // which on the peers' machines is the peers' one.
    if (hasByteOrderMark(bytes) || codePage == platform::ansiCodePage()) return envelope::readKeyFileFirstLine(path);
    std::u16string text = platform::widenCodePage(codePage, bytes);
    const ElAES::WipeOnExit wipeText(text);
    return firstLine(text, description);
}

std::u16string passwordFileText(const std::u16string& path) {
    const std::string name = utf8::encode(path);
    const std::string description = "The password file \"" + name + "\"";
    requireFile(path, description);
    std::string bytes = platform::readFile(path);
    const ElAES::WipeOnExit wipeBytes(bytes);
    if (hasByteOrderMark(bytes)) {
        setpassform::DecodedText decoded = setpassform::decodeText(bytes, name);
        const ElAES::WipeOnExit wipeText(decoded.text);
        return firstLine(decoded.text, description);
    }
    auto text = utf8::decode(bytes);
    if (!text) {
        throw Exception(description +
                        " is not valid UTF-8. Save it as UTF-8, or use --key-file for a file in the code page.");
    }
    const ElAES::WipeOnExit wipeText(*text);
    return firstLine(*text, description);
}

// The key block of a key text, which is wiped then, in place.
ElAES::SecretKey keyBlockOf(std::u16string&& keyText) {
    const ElAES::WipeOnExit wipeKeyText(keyText);
    return envelope::keyBlockFromText(keyText);
}

ElAES::SecretKey keyFor(const Invocation& invocation, const PasswordPrompt& ask) {
    switch (invocation.keyKind) {
        case KeyKind::Password: {
            auto password = utf8::decode(invocation.keyValue);
            if (!password) throw UsageError("The password is not valid UTF-8.", invocation.command);
            return keyBlockOf(std::move(*password));
        }
        case KeyKind::PasswordFile:
            return keyBlockOf(passwordFileText(pathOf(invocation, "--password-file")));
        case KeyKind::KeyFile:
            return keyBlockOf(keyFileText(pathOf(invocation, "--key-file"), invocation.codePage));
        case KeyKind::Prompt: break;
    }
    auto typed = ask ? ask("Password: ") : std::nullopt;
    if (!typed) {
        throw UsageError(
            "No key given, and no terminal to ask for the password: "
            "use --password, --password-file or --key-file.",
            invocation.command);
    }
    const ElAES::WipeOnExit wipeTyped(*typed);
    auto password = utf8::decode(*typed);
    if (!password) throw UsageError("The password typed is not valid UTF-8.", invocation.command);
    return keyBlockOf(std::move(*password));
}

}  // namespace cli
