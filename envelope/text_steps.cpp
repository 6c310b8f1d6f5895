#include "envelope/text_steps.h"

#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define ENVELOPE_HAVE_AVX2 1
#else
#define ENVELOPE_HAVE_AVX2 0
#endif

#include "envelope/byte_tables.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

using detail::byteTablesFor;
using detail::ByteTables;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte that two hex digits spell, indexed by the two characters as a
// 16-bit word (first character in the low byte); 0x100 and up for a pair that
// is not two digits.
struct HexPairs {
    std::uint16_t of[0x10000];
    constexpr HexPairs() : of() {
        std::int32_t digit[256] = {};
        for (int c = 0; c < 256; ++c) digit[c] = -1;
        for (int d = 0; d < 10; ++d) digit['0' + d] = d;
        for (int d = 0; d < 6; ++d) digit['A' + d] = digit['a' + d] = 10 + d;
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                const bool both = digit[first] >= 0 && digit[second] >= 0;
                of[first | second << 8] =
                    static_cast<std::uint16_t>(both ? digit[first] << 4 | digit[second] : 0x100);
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

#if defined(__SSE2__)
// Sixteen hex digits (either case) at in to eight bytes at out; false, with
// nothing written, when any of the sixteen is not a digit. SSE2 is part of
// every x86-64 processor.
inline bool digitsToBytes16(const unsigned char* in, unsigned char* out) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    // x < limit for unsigned bytes, through the signed comparison.
    const auto below = [&](__m128i x, int limit) {
        return _mm_cmplt_epi8(_mm_xor_si128(x, bias), _mm_set1_epi8(static_cast<char>(0x80 + limit)));
    };
    const __m128i digit = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isDigit = below(digit, 10);
    const __m128i isLetter = below(letter, 6);
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
    const __m128i value = _mm_or_si128(_mm_and_si128(isDigit, digit),
                                       _mm_and_si128(isLetter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
    // Each 16-bit lane holds a pair: the high digit in its low byte.
    const __m128i high = _mm_and_si128(_mm_slli_epi16(value, 4), _mm_set1_epi16(0x00F0));
    const __m128i low = _mm_srli_epi16(value, 8);
    const __m128i bytes = _mm_or_si128(high, low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bytes, bytes));
    return true;
}
#endif

#if ENVELOPE_HAVE_AVX2
// The same on 32 digits, sixteen bytes out, while all are digits: the pairs
// done.
__attribute__((target("avx2"))) std::size_t digitsToBytesAvx2(const unsigned char* in, unsigned char* out,
                                                               std::size_t pairs) {
    std::size_t i = 0;
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    for (; i + 16 <= pairs; i += 16) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i));
        const __m256i digit = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
        const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(c, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
        const __m256i isDigit =
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 10)), _mm256_xor_si256(digit, bias));
        const __m256i isLetter =
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 6)), _mm256_xor_si256(letter, bias));
        if (_mm256_movemask_epi8(_mm256_or_si256(isDigit, isLetter)) != -1) break;
        const __m256i value = _mm256_or_si256(
            _mm256_and_si256(isDigit, digit),
            _mm256_and_si256(isLetter, _mm256_add_epi8(letter, _mm256_set1_epi8(10))));
        const __m256i high = _mm256_and_si256(_mm256_slli_epi16(value, 4), _mm256_set1_epi16(0x00F0));
        const __m256i bytes = _mm256_or_si256(high, _mm256_srli_epi16(value, 8));
        // Packing works within each half: the two halves' eight bytes sit in
        // quadwords 0 and 2.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(bytes, bytes), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
    }
    _mm256_zeroupper();
    return i;
}
#endif

// The bytes of `pairs` pairs of digits at in, written to out: the same
// storage as in, or apart. Sixteen or 32 digits at a time while all are
// digits, then one pair at a time. Apart, one lookup a pair and no branch:
// what is not a digit is noted in the result (0x100 and up), and sought
// afterwards for the error's position. In place (`stopAtNonDigit`) the pairs
// stop at the first that is not two digits, whose index is returned (pairs
// when none): byte i overwrites only digits that were read before it, and
// what is not a digit must still be there to be named.
template <bool stopAtNonDigit>
std::size_t bytesOfDigits(const unsigned char* in, std::size_t pairs, unsigned char* out, unsigned& notDigits) {
    std::size_t i = 0;
#if ENVELOPE_HAVE_AVX2
    if (detail::vectorsInUse() != detail::Vectors::Sse2) i = digitsToBytesAvx2(in, out, pairs);
#endif
#if defined(__SSE2__)
    while (i + 8 <= pairs && digitsToBytes16(in + 2 * i, out + i)) i += 8;
#endif
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
        if (hexValue(hexText[i]) < 0) raiseNotADigit(i);
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
    if (count % 2 != 0 && hexValue(hexText.back()) < 0) raiseNotADigit(count - 1);
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
