#pragma once
// The envelope: the only data two copies of the plug-in exchange.
//
//   "#MSTLK:" followed by hex digits (uppercase written, either case read)
//   of the UTF-8 form of the payload text, where the payload is
//   L (4 bytes, little-endian: the message's length in bytes) followed by
//   the message encrypted with AES-256 in ECB mode, the last block zero-filled,
//   and the payload text is the payload's bytes read as characters of the
//   peers' single-byte ANSI code page.
//
// The zero fill is the envelope's only check of the key: a receiver that
// finds it decrypting to anything but zeros knows the key is wrong. So seal()
// gives every message at least four bytes of it (checkedLength), by counting
// a few zero bytes of its own into L; every receiver trims trailing zeros, and
// shows the same text.
//
// Every function here takes the code page explicitly; the plug-in passes the
// system's. An envelope from a peer on another code page is opened through
// receipt.h.
//
// The steps between text and digits are in text_steps.h, the key block in
// key_block.h. The plug-in (host/) and the companion command line (tools/cli/)
// both open envelopes, so this folder includes neither.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "platform/exception.h"

namespace envelope {

inline constexpr std::string_view marker = "#MSTLK:";

// An envelope that cannot be opened; the message says why, in one line.
class EEnvelopeError : public Exception {
public:
    using Exception::Exception;
};

// The length prefix that seal() writes for a message of n bytes: n, with the
// fewest zero bytes added that leave between 4 and 15 bytes of zero fill in
// the last block, that is (n + k) mod 16 from 1 to 12. A wrong key then passes
// the fill with odds of 2^-32 at most, rather than 1 in 256 for a 15-byte
// message and always for a 16-byte one. The empty message stays empty.
std::uint32_t checkedLength(std::uint32_t n);

// The length prefix L: the first four bytes of a payload (at least four),
// little-endian.
std::uint32_t lengthPrefixOf(std::string_view payload);

// The ciphertext that a length prefix L calls for: whole 16-byte blocks.
constexpr std::uint64_t cipherSizeFor(std::uint64_t L) { return (L + 15) / 16 * 16; }

// The envelope of a message's bytes, with the zero bytes of checkedLength.
std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage);

// Takes an envelope's text in pieces, in order.
using TextSink = std::function<void(std::string_view)>;

// The same envelope handed to `sink` in pieces of a few hundred kilobytes, so
// that a long message is held once and its envelope never whole.
void seal(std::string_view message, const ElAES::Key& key, unsigned codePage, const TextSink& sink);

// What a received text opens to.
struct Opened {
    std::string text;  // trailing zero bytes removed
    std::uint32_t declaredLength = 0;  // L, as the sender wrote it
};

// The payload that the text after the marker carries: hexDecode (text_steps.h),
// and at least the four bytes of the length prefix. Raises EEnvelopeError.
std::string payloadOf(std::string_view hexText, unsigned codePage);

// Opens a payload; raises EEnvelopeError as open() does.
Opened openPayload(const std::string& payload, const ElAES::Key& key, unsigned codePage);

// Opens the text after the marker. Raises EEnvelopeError for malformed hex,
// invalid UTF-8, a payload shorter than its length prefix, a ciphertext that is
// empty or not whole blocks, and for what a wrong key gives away: a
// ciphertext whose size does not fit L, or decrypted zero fill that is not zero.
Opened open(std::string_view hexText, const ElAES::Key& key, unsigned codePage);

// True when a received text begins with the marker at its first character.
bool hasMarker(std::string_view text);

}  // namespace envelope
