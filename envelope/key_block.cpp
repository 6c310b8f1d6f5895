#include "envelope/key_block.h"

#include <algorithm>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/text_file.h"

namespace envelope {

ElAES::SecretKey keyBlockFromText(std::u16string_view keyText) {
    ElAES::SecretKey key;
    const std::size_t n = std::min<std::size_t>(keyText.size(), key.size());
    // Byte i of the UTF-16LE form: the low byte of unit i/2 for even i.
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t unit = keyText[i / 2];
        key[i] = static_cast<std::uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
    }
    return key;
}

std::u16string readKeyFileFirstLine(const std::u16string& path) {
    // Read here rather than through readTextFile, so that the file's bytes are
    // wiped once the line is out.
    std::string bytes = platform::readFile(path);
    const ElAES::WipeOnExit wipeBytes(bytes);
    return keyFileFirstLine(bytes, platform::ansiCodePage(), utf8::encode(path));
}

std::u16string keyFileFirstLine(std::string_view leadingBytes, unsigned codePage, const std::string& fileName) {
    setpassform::DecodedText decoded = setpassform::decodeText(leadingBytes, fileName);
    const ElAES::WipeOnExit wipeText(decoded.text);
    // A file without a mark: decodeText read it in the system's code page.
    if (decoded.encoding == setpassform::TextEncoding::Ansi && codePage != platform::ansiCodePage()) {
        ElAES::wipe(decoded.text);
        decoded.text = platform::widenCodePage(codePage, leadingBytes);
    }
    const std::u16string& text = decoded.text;
    if (text.empty() || text[0] == u'\0') {
        throw Exception("The key file \"" + fileName + "\" is empty: its first line holds the key.");
    }
    return text.substr(0, text.find_first_of(std::u16string_view(u"\r\n\0", 3)));
}

std::optional<std::u16string> locateKeyFile(const std::string& settingsFolder, const std::u16string& typedPath) {
    const std::u16string inFolder = platform::widen(settingsFolder) + typedPath;
    if (platform::fileExists(inFolder)) return inFolder;
    if (platform::fileExists(typedPath)) return typedPath;
    return std::nullopt;
}

std::optional<ElAES::SecretKey> buildKeyBlock(const KeySource& source, const std::string& settingsFolder,
                                              bool* emptyKeyText) {
    if (source.usePassword) {
        if (emptyKeyText) *emptyKeyText = source.password.empty();
        return keyBlockFromText(source.password);
    }
    const auto path = locateKeyFile(settingsFolder, source.keyFilePath);
    if (!path) return std::nullopt;
    std::u16string keyText = readKeyFileFirstLine(*path);
    const ElAES::WipeOnExit wipeKeyText(keyText);
    if (emptyKeyText) *emptyKeyText = keyText.empty();
    return keyBlockFromText(keyText);
}

}  // namespace envelope
