#pragma once
// The 32-byte AES key built for every message from the password or from the
// first line of a key file. Key blocks, and every copy of the texts they are
// made from that this module holds, are wiped once they have served.
#include <optional>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"

namespace envelope {

// The first min(n, 32) bytes of the key text's UTF-16LE form, n being its
// number of code units; the rest zero. So a text of 32 or more units gives
// its first 16, and the empty text gives the all-zero key.
ElAES::SecretKey keyBlockFromText(std::u16string_view keyText);

// The first line of a key file: the text up to its first CR, LF or NUL, after
// a UTF-8, UTF-16LE or UTF-16BE byte-order mark (the ANSI code page without
// one). Raises Exception naming the file when it cannot be read, is marked
// UTF-8 but is not, or has no line at all (empty, only a mark, NUL first).
std::u16string readKeyFileFirstLine(const std::u16string& path);

// The same first line from a key file's leading bytes, read elsewhere: by its
// byte-order mark, or else in `codePage`. Raises Exception naming `fileName`
// for the same unusable keys.
std::u16string keyFileFirstLine(std::string_view leadingBytes, unsigned codePage, const std::string& fileName);

// The key file that a typed path names: the settings folder followed by the
// path if such a file exists, else the path as typed if that exists, else none.
std::optional<std::u16string> locateKeyFile(const std::string& settingsFolder, const std::u16string& typedPath);

// The password is a copy of what the user typed: it is wiped with the source.
struct KeySource {
    bool usePassword = true;
    std::u16string password;
    std::u16string keyFilePath;
    ~KeySource() { ElAES::wipe(password); }
};

// The key block for a message, or nullopt when the key file is missing.
// Raises when the key file cannot be read or has no line. `emptyKeyText`, when
// given, learns whether the key came from an empty text (the all-zero key).
std::optional<ElAES::SecretKey> buildKeyBlock(const KeySource& source, const std::string& settingsFolder,
                                              bool* emptyKeyText = nullptr);

}  // namespace envelope
