#include "envelope/key_block.h"

#include <algorithm>

#include "envelope/sealed.h"
#include "platform/platform.h"

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

std::optional<std::u16string> locateKeyFile(const std::string& settingsFolder, const std::u16string& typedPath) {
    const std::u16string inFolder = platform::widen(settingsFolder) + typedPath;
    if (platform::fileExists(inFolder)) return inFolder;
    if (platform::fileExists(typedPath)) return typedPath;
    return std::nullopt;
}

std::optional<MessageKeys> buildMessageKeys(const KeySource& source, const std::string& settingsFolder,
                                            bool* emptyKeyText) {
    if (source.usePassword) {
        if (emptyKeyText) *emptyKeyText = source.password.empty();
        return MessageKeys{keyBlockFromText(source.password), std::nullopt};
    }
    const auto path = locateKeyFile(settingsFolder, source.keyFilePath);
    if (!path) return std::nullopt;
    KeyFileKey file;
    readKeyFile(*path, file);
    if (emptyKeyText) *emptyKeyText = false;  // an empty line is refused as it is read
    MessageKeys keys{keyBlockFromText(file.firstLine), std::nullopt};
    if (file.sealed) keys.sealed = sealed::keyFromText(file.firstLine);
    return keys;
}

std::optional<ElAES::SecretKey> buildKeyBlock(const KeySource& source, const std::string& settingsFolder,
                                              bool* emptyKeyText) {
    auto keys = buildMessageKeys(source, settingsFolder, emptyKeyText);
    if (!keys) return std::nullopt;
    return keys->block;
}

}  // namespace envelope
