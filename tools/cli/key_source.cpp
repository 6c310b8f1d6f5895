#include "tools/cli/key_source.h"

#include <string_view>

#include "host/key_block.h"
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
    const std::string bytes = platform::readFile(path);
    // The plug-in reads a file without a mark in the system's code page,
    // which on the peers' machines is the peers' one.
    if (hasByteOrderMark(bytes) || codePage == platform::ansiCodePage()) return envelope::readKeyFileFirstLine(path);
    return firstLine(platform::widenCodePage(codePage, bytes), description);
}

std::u16string passwordFileText(const std::u16string& path) {
    const std::string name = utf8::encode(path);
    const std::string description = "The password file \"" + name + "\"";
    requireFile(path, description);
    const std::string bytes = platform::readFile(path);
    if (hasByteOrderMark(bytes)) return firstLine(setpassform::decodeText(bytes, name).text, description);
    auto text = utf8::decode(bytes);
    if (!text) {
        throw Exception(description +
                        " is not valid UTF-8. Save it as UTF-8, or use --key-file for a file in the code page.");
    }
    return firstLine(*text, description);
}

ElAES::Key keyFor(const Invocation& invocation, const PasswordPrompt& ask) {
    switch (invocation.keyKind) {
        case KeyKind::Password: {
            auto password = utf8::decode(invocation.keyValue);
            if (!password) throw UsageError("The password is not valid UTF-8.", invocation.command);
            return envelope::keyBlockFromText(*password);
        }
        case KeyKind::PasswordFile:
            return envelope::keyBlockFromText(passwordFileText(pathOf(invocation, "--password-file")));
        case KeyKind::KeyFile:
            return envelope::keyBlockFromText(
                keyFileText(pathOf(invocation, "--key-file"), invocation.codePage));
        case KeyKind::Prompt: break;
    }
    const auto typed = ask ? ask("Password: ") : std::nullopt;
    if (!typed) {
        throw UsageError(
            "No key given, and no terminal to ask for the password: "
            "use --password, --password-file or --key-file.",
            invocation.command);
    }
    auto password = utf8::decode(*typed);
    if (!password) throw UsageError("The password typed is not valid UTF-8.", invocation.command);
    return envelope::keyBlockFromText(*password);
}

}  // namespace cli
