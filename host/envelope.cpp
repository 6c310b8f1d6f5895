#include "host/envelope.h"

#include "crypto/memory_stream.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string lengthPrefix(std::uint32_t length) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return out;
}

std::uint32_t readLengthPrefix(std::string_view payload) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(payload[i]);
    return v;
}

// Widen and narrow through the peers' code page: with a single-byte code page
// every byte comes back as it was.
std::string throughCodePage(std::string_view bytes, unsigned codePage) {
    return platform::narrowCodePage(codePage, platform::widenCodePage(codePage, bytes));
}

}  // namespace

std::string hexEncode(std::string_view text, unsigned codePage) {
    static const char digits[] = "0123456789ABCDEF";
    const std::string bytes = utf8::encode(platform::widenCodePage(codePage, text));
    std::string out(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    return out;
}

std::string hexDecode(std::string_view hexText, unsigned codePage) {
    std::string bytes(hexText.size() / 2, '\0');
    for (std::size_t i = 0; i < hexText.size(); ++i) {
        const int v = hexValue(hexText[i]);
        if (v < 0) {
            throw EEnvelopeError("The envelope holds a character that is not a hexadecimal digit, at position " +
                                 std::to_string(i + 1 + marker.size()) + ".");
        }
        // An unpaired last digit is checked but carries nothing.
        if (i / 2 < bytes.size()) {
            bytes[i / 2] = static_cast<char>(i % 2 == 0 ? v << 4 : (static_cast<unsigned char>(bytes[i / 2]) | v));
        }
    }
    const auto text = utf8::decode(bytes);
    if (!text) throw EEnvelopeError("The envelope's digits do not spell valid UTF-8 text.");
    return platform::narrowCodePage(codePage, *text);
}

std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage) {
    const auto length = static_cast<std::uint32_t>(message.size());
    ElAES::MemoryStream source{std::string(message)};
    ElAES::MemoryStream payload{lengthPrefix(length)};
    payload.reserve(4 + (message.size() + 15) / 16 * 16);
    payload.SetPosition(4);
    ElAES::encryptStream(source, 0, key, payload);
    return std::string(marker) + hexEncode(throughCodePage(payload.bytes(), codePage), codePage);
}

std::string payloadOf(std::string_view hexText, unsigned codePage) {
    std::string payload = hexDecode(hexText, codePage);
    if (payload.size() < 4) throw EEnvelopeError("The envelope is too short to hold a message.");
    return payload;
}

Opened open(std::string_view hexText, const ElAES::Key& key, unsigned codePage) {
    return openPayload(payloadOf(hexText, codePage), key, codePage);
}

Opened openPayload(const std::string& payload, const ElAES::Key& key, unsigned codePage) {
    Opened result;
    result.declaredLength = readLengthPrefix(payload);

    ElAES::MemoryStream source{payload};
    source.SetPosition(4);
    ElAES::MemoryStream plain;
    plain.reserve(payload.size() - 4);
    try {
        ElAES::decryptStream(source, static_cast<std::uint32_t>(payload.size() - 4), key, plain);
    } catch (const ElAES::EAESError&) {
        throw EEnvelopeError("The envelope's ciphertext is not a whole number of 16-byte blocks.");
    }

    // The sender's length tells how much of the last block is zero fill. A
    // ciphertext of another size, or fill that did not decrypt to zeros, means
    // a wrong key or a damaged envelope, not a message.
    const std::string& decrypted = plain.bytes();
    const std::uint64_t L = result.declaredLength;
    if (decrypted.size() != (L + 15) / 16 * 16) {
        throw EEnvelopeError("The envelope does not fit the message length it declares: wrong key or damaged envelope.");
    }
    for (std::size_t i = static_cast<std::size_t>(L); i < decrypted.size(); ++i) {
        if (decrypted[i] != '\0') throw EEnvelopeError("The envelope does not open with this key.");
    }

    result.text = throughCodePage(decrypted, codePage);
    while (!result.text.empty() && result.text.back() == '\0') result.text.pop_back();
    return result;
}

bool hasMarker(std::string_view text) { return text.substr(0, marker.size()) == marker; }

}  // namespace envelope
