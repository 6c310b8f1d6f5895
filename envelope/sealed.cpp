#include "envelope/sealed.h"

#include <cstring>

#include "crypto/hkdf.h"
#include "envelope/base64url.h"
#include "envelope/byte_tables.h"
#include "envelope/text_steps.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope::sealed {

namespace {

using ElAES::kGcmNonceSize;
using ElAES::kGcmTagSize;

// The version byte and the nonce before the ciphertext, the tag after it.
constexpr std::size_t headerSize = 1 + kGcmNonceSize;
constexpr std::size_t shortest = headerSize + paddingBlock + kGcmTagSize;
// readStrictly (text_steps.h) reads this far past the text it is given.
constexpr std::size_t readAhead = SpelledBytes::kPadding;
// GCM's own limit, less a block of padding.
constexpr std::size_t longestPlainText = (std::size_t{1} << 36) - 32 - paddingBlock;

// The associated data: the marker and the version, so that neither can be
// changed without the tag showing it.
std::string_view associatedData() {
    static const std::string data = std::string(marker) + static_cast<char>(version);
    return data;
}

std::uint8_t* bytesAt(std::string& s, std::size_t at) { return reinterpret_cast<std::uint8_t*>(s.data()) + at; }

// Appends the message's UTF-8 form: its bytes widened through the code page.
void appendUtf8(std::string& out, std::string_view message, unsigned codePage) {
    if (const detail::ByteTables* tables = detail::byteTablesFor(codePage)) {
        detail::appendDigits(out, message, tables->utf8, 3);
    } else {
        out += utf8::encode(platform::widenCodePage(codePage, message));
    }
}

[[noreturn]] void refuse(const std::string& why) { throw EEnvelopeError("The sealed envelope does not open: " + why); }

// The plain text's storage, with the message's UTF-8 form at its start and
// zero bytes after it (its padding, and readAhead more).
struct PlainText {
    std::string storage;
    std::size_t length = 0;
    std::string_view utf8() const { return std::string_view(storage).substr(0, length); }
};

PlainText decrypted(const Received& received, const ElAES::Key& key) {
    const std::string_view ciphertext = received.ciphertext();
    PlainText plain;
    plain.storage.assign(ciphertext.size() + readAhead, '\0');
    const ElAES::GcmKey gcmKey(key);
    const bool authentic = gcmKey.open(received.nonce(), associatedData(),
                                       reinterpret_cast<const std::uint8_t*>(ciphertext.data()), ciphertext.size(),
                                       reinterpret_cast<const std::uint8_t*>(received.tag().data()), kGcmTagSize,
                                       bytesAt(plain.storage, 0));
    if (!authentic) refuse("it was sealed under another key, or altered on the way.");
    // The last byte that is not zero closes the message: 0x80, made zero here.
    std::size_t end = ciphertext.size();
    while (end > 0 && plain.storage[end - 1] == '\0') --end;
    if (end == 0 || static_cast<unsigned char>(plain.storage[end - 1]) != 0x80) {
        refuse("its padding is not 0x80 and zero bytes.");
    }
    plain.storage[end - 1] = '\0';
    plain.length = end - 1;
    return plain;
}

}  // namespace

ElAES::SecretKey keyFromText(std::u16string_view firstLine) {
    std::string material;
    material.reserve(2 * firstLine.size());
    for (const char16_t unit : firstLine) {
        material += static_cast<char>(unit & 0xFF);
        material += static_cast<char>(unit >> 8);
    }
    const ElAES::WipeOnExit wipeMaterial(material);
    ElAES::SecretKey key;
    ElAES::hkdfSha256(keySalt, material, keyInfo, key.data(), key.size());
    return key;
}

std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage) {
    Nonce nonce;
    try {
        platform::randomBytes(nonce.data(), nonce.size());
    } catch (const Exception& e) {
        throw ENoNonce(e.what());
    }
    return sealWithNonce(message, key, codePage, nonce);
}

std::string sealWithNonce(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce) {
    // Each byte of the message gives at most three of UTF-8.
    if (message.size() > longestPlainText / 3) throw EEnvelopeError("The message is too long for an envelope.");
    std::string bytes;
    bytes.reserve(headerSize + 3 * message.size() + paddingBlock + kGcmTagSize + 8);
    bytes += static_cast<char>(version);
    bytes.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    appendUtf8(bytes, message, codePage);
    bytes += static_cast<char>(0x80);
    const std::size_t plainSize = (bytes.size() - headerSize + paddingBlock - 1) / paddingBlock * paddingBlock;
    bytes.resize(headerSize + plainSize + kGcmTagSize, '\0');
    // In place: the plain text becomes the ciphertext, and the tag follows it.
    const ElAES::GcmKey gcmKey(key);
    gcmKey.seal(std::string_view(reinterpret_cast<const char*>(nonce.data()), nonce.size()), associatedData(),
                bytesAt(bytes, headerSize), plainSize, bytesAt(bytes, headerSize), bytesAt(bytes, headerSize + plainSize));
    std::string out;
    out.reserve(marker.size() + (bytes.size() + 2) / 3 * 4);
    out += marker;
    appendBase64url(out, bytes);
    return out;
}

bool hasMarker(std::string_view text) { return text.substr(0, marker.size()) == marker; }

Received::Received(std::string_view textAfterMarker) {
    bytes_.reserve(textAfterMarker.size() / 4 * 3 + 2);
    if (!appendBase64urlBytes(bytes_, textAfterMarker)) {
        refuse("it holds a character that is not of base64url (A-Z, a-z, 0-9, - and _), or ends where no bytes "
               "do: it was cut short or altered on the way.");
    }
    if (bytes_.size() < shortest) refuse("it is too short to hold a message: it was cut short on the way.");
    if (static_cast<unsigned char>(bytes_[0]) != version) {
        refuse("it is of version " + std::to_string(static_cast<unsigned char>(bytes_[0])) +
               ", and this Mistlock reads version " + std::to_string(version) + ".");
    }
    if ((bytes_.size() - shortest) % paddingBlock != 0) {
        refuse("its ciphertext is not whole blocks of 32 bytes: it was cut short or altered on the way.");
    }
}

std::string_view Received::ciphertext() const {
    return std::string_view(bytes_).substr(headerSize, bytes_.size() - headerSize - kGcmTagSize);
}

std::string openToUtf8(const Received& received, const ElAES::Key& key) {
    PlainText plain = decrypted(received, key);
    if (!utf8::isValid(plain.utf8())) refuse("its text is not valid UTF-8.");
    plain.storage.resize(plain.length);
    return std::move(plain.storage);
}

std::string open(const Received& received, const ElAES::Key& key, unsigned codePage) {
    const PlainText plain = decrypted(received, key);
    std::string text;
    // Through the code page's tables when it has every character; otherwise
    // decoded, then narrowed as the platform narrows, without best fit.
    if (readStrictly(plain.utf8(), codePage, text)) return text;
    const auto wide = utf8::decode(plain.utf8());
    if (!wide) refuse("its text is not valid UTF-8.");
    return platform::narrowCodePage(codePage, *wide);
}

}  // namespace envelope::sealed
