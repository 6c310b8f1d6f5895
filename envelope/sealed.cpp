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
// readStrictly (text_steps.h) reads this far past the text it is given: the
// tag's place holds as many zeros after the text is decrypted.
static_assert(SpelledBytes::kPadding <= ElAES::kGcmTagSize, "zeros enough after the text");
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
        detail::appendUtf8Forms(out, message, *tables);
    } else {
        out += utf8::encode(platform::widenCodePage(codePage, message));
    }
}

[[noreturn]] void refuse(const std::string& why) { throw EEnvelopeError("The sealed envelope does not open: " + why); }

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

namespace {

// The bytes the envelope's text carries: version, nonce, ciphertext and tag.
std::string sealedBytes(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce) {
    // Each byte of the message gives at most three of UTF-8.
    if (message.size() > longestPlainText / 3) throw EEnvelopeError("The message is too long for an envelope.");
    std::string bytes;
    bytes.reserve(headerSize + 3 * message.size() + paddingBlock + kGcmTagSize + 8);
    bytes += static_cast<char>(version);
    bytes.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    // A piece at a time: each piece's room for three bytes a byte is made
    // ready and given back before the next, not all of it at once.
    constexpr std::size_t piece = 1 << 20;
    for (std::size_t at = 0; at < message.size(); at += piece) appendUtf8(bytes, message.substr(at, piece), codePage);
    bytes += static_cast<char>(0x80);
    const std::size_t plainSize = (bytes.size() - headerSize + paddingBlock - 1) / paddingBlock * paddingBlock;
    bytes.resize(headerSize + plainSize + kGcmTagSize, '\0');
    // In place: the plain text becomes the ciphertext, and the tag follows it.
    const ElAES::GcmKey gcmKey(key);
    gcmKey.seal(std::string_view(reinterpret_cast<const char*>(nonce.data()), nonce.size()), associatedData(),
                bytesAt(bytes, headerSize), plainSize, bytesAt(bytes, headerSize), bytesAt(bytes, headerSize + plainSize));
    return bytes;
}

}  // namespace

std::string sealWithNonce(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce) {
    const std::string bytes = sealedBytes(message, key, codePage, nonce);
    std::string out;
    out.reserve(marker.size() + (bytes.size() + 2) / 3 * 4);
    out += marker;
    appendBase64url(out, bytes);
    return out;
}

void sealWithNonce(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce,
                   const TextSink& sink) {
    const std::string bytes = sealedBytes(message, key, codePage, nonce);
    // Whole groups of three bytes a piece: their characters are those of the
    // whole.
    constexpr std::size_t piece = 3 << 16;
    std::string text(marker);
    text.reserve(piece / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        appendBase64url(text, std::string_view(bytes).substr(at, piece));
        sink(text);
        text.clear();
    }
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

std::string_view Received::decrypt(const ElAES::Key& key) {
    const std::size_t size = bytes_.size() - shortest + paddingBlock;
    std::uint8_t* const text = bytesAt(bytes_, headerSize);
    std::uint8_t* const tag = text + size;
    const ElAES::GcmKey gcmKey(key);
    const std::string_view nonce(bytes_.data() + 1, kGcmNonceSize);
    if (!gcmKey.open(nonce, associatedData(), text, size, tag, kGcmTagSize, text)) {
        refuse("it was sealed under another key, or altered on the way.");
    }
    // The tag has served: its place becomes more of the zeros after the text.
    std::memset(tag, 0, kGcmTagSize);
    // The last byte that is not zero closes the message: 0x80, made zero too.
    std::size_t end = size;
    while (end > 0 && text[end - 1] == 0) --end;
    if (end == 0 || text[end - 1] != 0x80) refuse("its padding is not 0x80 and zero bytes.");
    text[end - 1] = 0;
    return std::string_view(reinterpret_cast<const char*>(text), end - 1);
}

std::string_view openInPlace(Received& received, const ElAES::Key& key) {
    const std::string_view text = received.decrypt(key);
    if (!utf8::isValid(text)) refuse("its text is not valid UTF-8.");
    return text;
}

std::string openToUtf8(Received&& received, const ElAES::Key& key) { return std::string(openInPlace(received, key)); }

std::string open(Received&& received, const ElAES::Key& key, unsigned codePage) {
    const std::string_view utf8Text = received.decrypt(key);
    std::string text;
    // Through the code page's tables when it has every character; otherwise
    // decoded, then narrowed as the platform narrows, without best fit.
    if (readStrictly(utf8Text, codePage, text)) return text;
    const auto wide = utf8::decode(utf8Text);
    if (!wide) refuse("its text is not valid UTF-8.");
    return platform::narrowCodePage(codePage, *wide);
}

}  // namespace envelope::sealed
