#include "envelope/text_steps.h"

#include <cstdint>
#include <utility>

#include "envelope/byte_tables.h"
#include "envelope/text_paths.h"
#include "platform/hex.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

using detail::byteTablesFor;
using detail::ByteTables;

// The byte that two hex digits spell, indexed by the two characters as a
// 16-bit word (first character in the low byte); 0x100 and up for a pair that
// is not two digits.
struct HexPairs {
    std::uint16_t of[0x10000];
    constexpr HexPairs() : of() {
        for (int first = 0; first < 256; ++first) {
            const int high = platform::hexDigitValue(static_cast<char>(first));
            for (int second = 0; second < 256; ++second) {
                const int low = platform::hexDigitValue(static_cast<char>(second));
                of[first | second << 8] = static_cast<std::uint16_t>(high >= 0 && low >= 0 ? high << 4 | low : 0x100);
            }
        }
    }
};
constexpr HexPairs kHexPairs;

[[noreturn]] void raiseNotADigit(std::size_t index) {
    throw EEnvelopeError("The envelope holds a character that is not a hexadecimal digit, at position " +
                         std::to_string(index + 1 + marker.size()) + ".");
}

[[noreturn]] void raiseInvalidUtf8() { throw EEnvelopeError("Incomplete or damaged envelope: its digits do not spell valid UTF-8 text."); }

// ---- The text steps, one conversion after the other -------------------------
// These define what the envelope's text steps are, for every code page.

std::string throughCodePageInSteps(std::string_view bytes, unsigned codePage) {
    return platform::narrowCodePage(codePage, platform::widenCodePage(codePage, bytes));
}

std::string hexEncodeInSteps(std::string_view text, unsigned codePage) {
    return platform::toHex(utf8::encode(platform::widenCodePage(codePage, text)));
}

std::string narrowUtf8InSteps(std::string_view utf8Bytes, unsigned codePage) {
    const auto text = utf8::decode(utf8Bytes);
    if (!text) raiseInvalidUtf8();
    return platform::narrowCodePage(codePage, *text);
}

// ---- Hex digits to bytes -----------------------------------------------------

// The hex digits to bytes, followed by four zero bytes that are not part of
// them (for narrowUtf8ByTable); an unpaired last digit is checked but carries
// nothing.
constexpr std::size_t kPadding = SpelledBytes::kPadding;

// The bytes of `pairs` pairs of digits at in, written to out: the same
// storage as in, or apart. The path's vectors while every digit is one
// (they write nothing of a round that holds another character), then one
// pair at a time. Apart, one lookup a pair and no branch:
// what is not a digit is noted in the result (0x100 and up), and sought
// afterwards for the error's position. In place (`stopAtNonDigit`) the pairs
// stop at the first that is not two digits, whose index is returned (pairs
// when none): byte i overwrites only digits that were read before it, and
// what is not a digit must still be there to be named.
template <bool stopAtNonDigit>
std::size_t bytesOfDigits(const unsigned char* in, std::size_t pairs, unsigned char* out, unsigned& notDigits) {
    std::size_t i = detail::textPath().bytesOfDigits(in, out, pairs);
    for (; i < pairs; ++i) {
        const unsigned value = kHexPairs.of[in[2 * i] | in[2 * i + 1] << 8];
        if (stopAtNonDigit && value > 0xFF) return i;
        notDigits |= value;
        out[i] = static_cast<unsigned char>(value);
    }
    return pairs;
}

// Raises for the first character from `from` on that is not a digit.
void raiseAtFirstNotADigit(std::string_view hexText, std::size_t from = 0) {
    for (std::size_t i = from; i < hexText.size(); ++i) {
        if (platform::hexDigitValue(hexText[i]) < 0) raiseNotADigit(i);
    }
}

std::string paddedBytesOfDigits(std::string_view hexText) {
    std::string bytes(hexText.size() / 2 + kPadding, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(hexText.data());
    unsigned notDigits = 0;
    bytesOfDigits<false>(in, hexText.size() / 2, reinterpret_cast<unsigned char*>(&bytes[0]), notDigits);
    if (hexText.size() % 2 != 0) notDigits |= kHexPairs.of[in[hexText.size() - 1] | '0' << 8];
    if (notDigits & 0x100) raiseAtFirstNotADigit(hexText);
    return bytes;
}

// The same in the digits' own storage, from its start.
void decodeDigitsInPlace(std::string& storage, std::size_t from, std::size_t count) {
    const std::string_view hexText = std::string_view(storage).substr(from, count);
    auto* at = reinterpret_cast<unsigned char*>(&storage[0]);
    const std::size_t pairs = count / 2;
    unsigned notDigits = 0;
    const std::size_t done = bytesOfDigits<true>(at + from, pairs, at, notDigits);
    // The digits before the pair that stopped are overwritten, but were digits.
    if (done < pairs) raiseAtFirstNotADigit(hexText, 2 * done);
    if (count % 2 != 0 && platform::hexDigitValue(hexText.back()) < 0) raiseNotADigit(count - 1);
    storage.resize(pairs);
    storage.append(kPadding, '\0');
}

// utf8Bytes as paddedBytesOfDigits leaves them, zeros after the end.
std::string narrowUtf8(std::string_view utf8Bytes, unsigned codePage) {
    if (const ByteTables* tables = byteTablesFor(codePage)) {
        std::string out;
        if (detail::narrowUtf8ByTable(utf8Bytes, *tables, out)) return out;
    }
    return narrowUtf8InSteps(utf8Bytes, codePage);
}

}  // namespace

bool convertsByteWise(unsigned codePage) { return byteTablesFor(codePage) != nullptr; }

std::string hexEncode(std::string_view text, unsigned codePage) {
    const ByteTables* tables = byteTablesFor(codePage);
    if (!tables) return hexEncodeInSteps(text, codePage);
    std::string out;
    detail::appendDigits(out, text, tables->encoded);
    return out;
}

SpelledBytes::SpelledBytes(std::string_view hexText) : storage_(paddedBytesOfDigits(hexText)) {}

SpelledBytes::SpelledBytes(std::string&& storage, std::size_t from, std::size_t count) : storage_(std::move(storage)) {
    decodeDigitsInPlace(storage_, from, count);
}

bool readStrictly(std::string_view utf8Bytes, unsigned codePage, std::string& out) {
    if (const ByteTables* tables = byteTablesFor(codePage)) return detail::narrowUtf8ByTable(utf8Bytes, *tables, out);
    // Not byte-wise: every character must come back from narrowing as it was.
    const auto text = utf8::decode(utf8Bytes);
    if (!text) return false;
    out = platform::narrowCodePage(codePage, *text);
    return platform::widenCodePage(codePage, out) == *text;
}

std::string hexDecode(std::string_view hexText, unsigned codePage) {
    return narrowUtf8(SpelledBytes(hexText).bytes(), codePage);
}

void appendSealedDigits(std::string& out, std::string_view payload, unsigned codePage) {
    if (const ByteTables* tables = byteTablesFor(codePage)) {
        detail::appendDigits(out, payload, tables->sealed);
    } else {
        out += hexEncodeInSteps(throughCodePageInSteps(payload, codePage), codePage);
    }
}

void passThroughCodePage(std::string& bytes, unsigned codePage) {
    if (const ByteTables* tables = byteTablesFor(codePage)) {
        // Windows' single-byte code pages give every byte back as it was:
        // nothing to do, and a pass over every byte of the message saved.
        if (tables->keepsEveryByte) return;
        for (char& c : bytes) c = static_cast<char>(tables->through[static_cast<unsigned char>(c)]);
    } else {
        bytes = throughCodePageInSteps(bytes, codePage);
    }
}

}  // namespace envelope
