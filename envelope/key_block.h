#pragma once
// The 32-byte AES key built for every message from the password or from the
// first line of a key file. Key blocks, and every copy of the texts they are
// made from that this module holds, are wiped once they have served.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"
#include "platform/exception.h"

namespace envelope {

// The first min(n, 32) bytes of the key text's UTF-16LE form, n being its
// number of code units; the rest zero. So a text of 32 or more units gives
// its first 16, and the empty text gives the all-zero key.
ElAES::SecretKey keyBlockFromText(std::u16string_view keyText);

// How much of a key file is read. Only the first line counts, and of it only
// the first 32 bytes of its UTF-16 form and whether it is shorter than that:
// at most 32 characters and the line's end, under 100 bytes in any encoding
// with its byte-order mark. A page is one read, whatever follows in the file.
inline constexpr std::size_t keyFileReadLimit = 4096;

// The fewest key-block bytes a key file's line must give: a shorter key is
// one that anybody can find by trying them all.
inline constexpr std::size_t shortestKeyFileLine = 8;

// A key file whose first line is no key the user can have meant: not text in
// its encoding, UTF-16 without a byte-order mark, or too short. The message
// names the file and says what to do.
class EUnusableKeyFile : public Exception {
public:
    EUnusableKeyFile(bool noKeyText, const std::string& message) : Exception(message), noKeyText(noKeyText) {}
    // The file holds no key text at all: it would give the all-zero key.
    bool noKeyText;
};

// The first line of a key file from its leading bytes (at most
// keyFileReadLimit; as many mean that the file may go on): the text up to its
// first CR, LF or NUL, after a UTF-8, UTF-16LE or UTF-16BE byte-order mark,
// in `codePage` without one. Raises EUnusableKeyFile naming `fileName` for
// everything that is not a usable key: no line at all (empty, only a mark,
// NUL first), a line shorter than shortestKeyFileLine units, UTF-8 that is
// not, and, without a mark, a NUL that ends the line (UTF-16 without a mark,
// or no text at all) or a byte the code page does not define.
std::u16string keyFileFirstLine(std::string_view leadingBytes, unsigned codePage, const std::string& fileName);

// keyFileFirstLine() of a file, read no further than keyFileReadLimit, in
// the ANSI code page. Raises EFileError when it cannot be read.
std::u16string readKeyFileFirstLine(const std::u16string& path);

// The line that makes a key file a sealed key file (sealed.h) when one of its
// lines after the first is exactly this, once its line break is removed.
inline constexpr std::u16string_view sealedKeyFileLine = u"Mistlock-Sealed: 2";

// Whether a key file's leading bytes make it a sealed key file: a line after
// the first, split at CR LF, CR or LF and read as keyFileFirstLine reads the
// file, is sealedKeyFileLine. Only the first keyFileReadLimit bytes count, and
// of them a last line that runs to the limit does not: the file may go on.
bool marksSealedKeyFile(std::string_view leadingBytes, unsigned codePage);

// A key file's first line, and whether the file is a sealed key file; the
// line is wiped with it.
struct KeyFileKey {
    std::u16string firstLine;
    bool sealed = false;
    KeyFileKey() = default;
    KeyFileKey(const KeyFileKey&) = delete;
    KeyFileKey& operator=(const KeyFileKey&) = delete;
    ~KeyFileKey() { ElAES::wipe(firstLine); }
};

// Both of a file, read no further than keyFileReadLimit, in the ANSI code
// page. Raises as readKeyFileFirstLine does.
void readKeyFile(const std::u16string& path, KeyFileKey& key);

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

// The keys of a message: the key block, and while the key source is a sealed
// key file, the sealed key of its first line.
struct MessageKeys {
    ElAES::SecretKey block;
    std::optional<ElAES::SecretKey> sealed;
};

// The keys for a message, or nullopt when the key file is missing. Raises
// when the key file cannot be read or is no usable key (see
// keyFileFirstLine). `emptyKeyText`, when given, learns whether the key came
// from an empty password (the all-zero key).
std::optional<MessageKeys> buildMessageKeys(const KeySource& source, const std::string& settingsFolder,
                                            bool* emptyKeyText = nullptr);

// The key block alone, as buildMessageKeys gives it.
std::optional<ElAES::SecretKey> buildKeyBlock(const KeySource& source, const std::string& settingsFolder,
                                              bool* emptyKeyText = nullptr);

}  // namespace envelope
