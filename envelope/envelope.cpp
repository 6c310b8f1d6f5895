#include "envelope/envelope.h"

#include <algorithm>
#include <utility>

#include "crypto/view_streams.h"
#include "crypto/wipe.h"
#include "envelope/text_steps.h"

namespace envelope {

namespace {

void appendLengthPrefix(std::string& out, std::uint32_t length) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
}

}  // namespace

std::uint32_t lengthPrefixOf(std::string_view payload) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(payload[i]);
    return v;
}

std::uint32_t checkedLength(std::uint32_t n) {
    if (n == 0) return 0;
    std::uint32_t k = 0;
    while ((n + k) % 16 == 0 || (n + k) % 16 > 12) ++k;
    return n + k;
}

namespace {

// Seals the message `piece` bytes at a time (a multiple of 16, or all of it):
// after each piece `out` holds the envelope's text so far, which `took` may
// take away. Each payload byte's digits stand alone where the code page has
// byte tables (the caller cuts pieces only there), and ECB enciphers each
// block alone.
template <typename Took>
void sealInPieces(std::string_view message, const ElAES::Key& key, unsigned codePage, std::size_t piece,
                  std::string& out, Took&& took) {
    if (message.size() > 0xFFFFFFF0u) throw EEnvelopeError("The message is too long for an envelope.");
    const std::uint32_t length = checkedLength(static_cast<std::uint32_t>(message.size()));
    std::string payload;
    // A piece's blocks, and the block of added zeros.
    payload.reserve(4 + cipherSizeFor(std::min(message.size(), piece)) + 16);
    appendLengthPrefix(payload, length);
    ElAES::Schedule schedule;
    const ElAES::WipeOnExit wipeSchedule(schedule);
    ElAES::buildEncryptionSchedule(key, schedule);
    out += marker;
    for (std::size_t at = 0;; at += piece) {
        // The cipher reads the message where it is and appends to the payload.
        // The added zeros never fit in the message's last block: they make one
        // more block, all zeros, under the same schedule.
        ElAES::ViewStream source(message.substr(at, piece));
        ElAES::AppendStream destination(payload);
        ElAES::encryptStreamWithSchedule(source, 0, schedule, destination);
        const bool last = message.size() - at <= piece;
        if (last && cipherSizeFor(length) > cipherSizeFor(message.size())) {
            static constexpr char zeros[16] = {};
            ElAES::ViewStream zeroBlock(std::string_view(zeros, sizeof zeros));
            ElAES::encryptStreamWithSchedule(zeroBlock, 0, schedule, destination);
        }
        appendSealedDigits(out, payload, codePage);
        payload.clear();
        took(out);
        if (last) return;
    }
}

}  // namespace

std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage) {
    std::string out;
    sealInPieces(message, key, codePage, std::max<std::size_t>(message.size(), 1), out, [](const std::string&) {});
    return out;
}

void seal(std::string_view message, const ElAES::Key& key, unsigned codePage, const TextSink& sink) {
    constexpr std::size_t piece = 48 << 10;
    std::string out;
    if (!convertsByteWise(codePage)) {
        // Payload bytes that the code page reads in pairs: all at once.
        sealInPieces(message, key, codePage, std::max<std::size_t>(message.size(), 1), out, [](const std::string&) {});
        sink(out);
        return;
    }
    out.reserve(marker.size() + 6 * piece + 8 * 16);
    sealInPieces(message, key, codePage, piece, out, [&](std::string& text) {
        sink(text);
        text.clear();
    });
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
    result.declaredLength = lengthPrefixOf(payload);

    ElAES::ViewStream source(payload);
    source.SetPosition(4);
    std::string decrypted;
    decrypted.reserve(payload.size() - 4);
    ElAES::AppendStream plain(decrypted);
    try {
        ElAES::decryptStream(source, static_cast<std::uint32_t>(payload.size() - 4), key, plain);
    } catch (const ElAES::EAESError&) {
        throw EEnvelopeError("Incomplete or damaged envelope: its ciphertext is not a whole number of 16-byte blocks.");
    }

    // The sender's length tells how much of the last block is zero fill. A
    // ciphertext of another size, or fill that did not decrypt to zeros, means
    // a wrong key or a damaged envelope, not a message.
    const std::uint64_t L = result.declaredLength;
    if (decrypted.size() != cipherSizeFor(L)) {
        throw EEnvelopeError("The envelope does not fit the message length it declares: wrong key or damaged envelope.");
    }
    for (std::size_t i = static_cast<std::size_t>(L); i < decrypted.size(); ++i) {
        if (decrypted[i] != '\0') throw EEnvelopeError("The envelope does not open with this key.");
    }

    passThroughCodePage(decrypted, codePage);
    result.text = std::move(decrypted);
    std::size_t length = result.text.size();
    while (length > 0 && result.text[length - 1] == '\0') --length;
    result.text.resize(length);
    return result;
}

bool hasMarker(std::string_view text) { return text.substr(0, marker.size()) == marker; }

}  // namespace envelope
