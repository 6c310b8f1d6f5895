#include "envelope/base64url.h"

#include <cstdint>
#include <cstring>

#include "envelope/byte_tables.h"
#include "envelope/text_paths.h"

#if ENVELOPE_HAVE_AVX2
#include <immintrin.h>
#endif

namespace envelope {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Two characters for every 12 bits: three bytes take two lookups and two
// stores, where a table of 64 takes four of each. A sealed envelope of 64 KiB
// has 87,000 characters, and this is most of the work of writing them.
struct Pairs {
    char text[4096][2];
    constexpr Pairs() : text{} {
        for (int i = 0; i < 4096; ++i) {
            text[i][0] = alphabet[i >> 6];
            text[i][1] = alphabet[i & 63];
        }
    }
};
constexpr Pairs pairs;

// The value of each character shifted to where the k-th character of a
// group of four puts it; a character outside the alphabet sets the top bit,
// so that one OR over a whole text tells whether any was.
constexpr std::uint32_t invalid = 0x80000000u;
struct Values {
    std::uint32_t at[4][256];
    constexpr Values() : at{} {
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < 256; ++c) at[k][c] = invalid;
            for (std::uint32_t v = 0; v < 64; ++v) at[k][static_cast<unsigned char>(alphabet[v])] = v << (18 - 6 * k);
        }
    }
};
constexpr Values values;

std::uint32_t valueOf(int k, char c) { return values.at[k][static_cast<unsigned char>(c)]; }

#if ENVELOPE_HAVE_AVX2
#define BASE64URL_AVX2 __attribute__((target("avx2")))

// Eight groups of three bytes to 32 characters at a time, while 28 bytes can
// be read; returns the groups done. Each lane takes twelve bytes, spreads
// every three over four bytes, cuts them into 6-bit values with two
// multiplications, and adds to each value the offset of its range of the
// alphabet, found with one byte shuffle.
BASE64URL_AVX2 std::size_t encodeAvx2(const unsigned char* in, std::size_t size, char* out) {
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,
                                            1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    // By range: 0 for 26..51, 1 to 10 for the digits, 11 '-', 12 '_', 13 for 0..25.
    const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '-' - 62, '_' - 63, 'A', 0, 0,
                                             'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '-' - 62, '_' - 63, 'A', 0, 0);
    std::size_t done = 0;
    for (; done + 28 <= size; done += 24, out += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 12));
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), spread);
        const __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(bytes, _mm256_set1_epi32(0x0fc0fc00)),
                                                 _mm256_set1_epi32(0x04000040));
        const __m256i second = _mm256_mullo_epi16(_mm256_and_si256(bytes, _mm256_set1_epi32(0x003f03f0)),
                                                  _mm256_set1_epi32(0x01000010));
        const __m256i sixBits = _mm256_or_si256(first, second);
        __m256i range = _mm256_subs_epu8(sixBits, _mm256_set1_epi8(51));
        const __m256i capital = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), sixBits);
        range = _mm256_or_si256(range, _mm256_and_si256(capital, _mm256_set1_epi8(13)));
        const __m256i text = _mm256_add_epi8(sixBits, _mm256_shuffle_epi8(offsets, range));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), text);
    }
    _mm256_zeroupper();
    return done / 3;
}

// All ones where first <= c <= last; a byte from 0x80 up is below either.
BASE64URL_AVX2 inline __m256i within(__m256i c, char first, char last) {
    return _mm256_and_si256(_mm256_cmpgt_epi8(c, _mm256_set1_epi8(static_cast<char>(first - 1))),
                            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(last + 1)), c));
}

// 32 characters to eight groups of three bytes at a time, while they are all
// of the alphabet and 32 more can be read; 32 bytes are stored for every 24.
// Returns the groups done.
BASE64URL_AVX2 std::size_t decodeAvx2(const char* in, std::size_t size, unsigned char* out) {
    const __m256i gather = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                                            2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    std::size_t done = 0;
    for (; done + 32 <= size; done += 32, out += 24) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + done));
        const __m256i capital = within(c, 'A', 'Z'), small = within(c, 'a', 'z'), digit = within(c, '0', '9');
        const __m256i dash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('-'));
        const __m256i underscore = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('_'));
        const __m256i known = _mm256_or_si256(_mm256_or_si256(capital, small), _mm256_or_si256(digit, _mm256_or_si256(dash, underscore)));
        if (_mm256_movemask_epi8(known) != -1) break;
        __m256i offset = _mm256_and_si256(capital, _mm256_set1_epi8(-'A'));
        offset = _mm256_or_si256(offset, _mm256_and_si256(small, _mm256_set1_epi8(26 - 'a')));
        offset = _mm256_or_si256(offset, _mm256_and_si256(digit, _mm256_set1_epi8(52 - '0')));
        offset = _mm256_or_si256(offset, _mm256_and_si256(dash, _mm256_set1_epi8(62 - '-')));
        offset = _mm256_or_si256(offset, _mm256_and_si256(underscore, _mm256_set1_epi8(63 - '_')));
        const __m256i sixBits = _mm256_add_epi8(c, offset);
        // Four values to 24 bits in each 32-bit word, then its three bytes in order.
        const __m256i pairs = _mm256_maddubs_epi16(sixBits, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, gather),
                                                          _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    }
    _mm256_zeroupper();
    return done / 4;
}

#define BASE64URL_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// Sixteen groups of three bytes to 64 characters at a time, while 48 bytes
// remain; returns the groups done. One byte permute spreads each group over
// four bytes, one multishift picks the four 6-bit values out of them, and one
// permute through the alphabet makes them characters.
BASE64URL_AVX512 std::size_t encodeAvx512(const unsigned char* in, std::size_t size, char* out) {
    const __m512i spread = _mm512_setr_epi32(0x01020001, 0x04050304, 0x07080607, 0x0a0b090a, 0x0d0e0c0d, 0x10110f10,
                                             0x13141213, 0x16171516, 0x191a1819, 0x1c1d1b1c, 0x1f201e1f, 0x22232122,
                                             0x25262425, 0x28292728, 0x2b2c2a2b, 0x2e2f2d2e);
    const __m512i shifts = _mm512_set1_epi64(0x3036242a1016040a);
    const __m512i characters = _mm512_loadu_si512(alphabet);
    // The zero-masked forms of the permutes: GCC 12 takes the plain ones'
    // undefined pass-through for a value used uninitialised.
    constexpr __mmask64 all = ~0ull;
    std::size_t done = 0;
    for (; done + 48 <= size; done += 48, out += 64) {
        const __m512i bytes = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFull, in + done);
        const __m512i sixBits =
            _mm512_maskz_multishift_epi64_epi8(all, shifts, _mm512_maskz_permutexvar_epi8(all, spread, bytes));
        _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(all, sixBits, characters));
    }
    return done / 3;
}

// The value of each of the 128 ASCII characters, 0x80 for those outside the
// alphabet, in two halves for a two-table byte permute.
struct AsciiValues {
    unsigned char of[128];
    constexpr AsciiValues() : of{} {
        for (int c = 0; c < 128; ++c) of[c] = 0x80;
        for (int v = 0; v < 64; ++v) of[static_cast<unsigned char>(alphabet[v])] = static_cast<unsigned char>(v);
    }
};
constexpr AsciiValues asciiValues;

// 64 characters to sixteen groups of three bytes at a time, while they are
// all of the alphabet and 64 more remain; returns the groups done.
BASE64URL_AVX512 std::size_t decodeAvx512(const char* in, std::size_t size, unsigned char* out) {
    const __m512i low = _mm512_loadu_si512(asciiValues.of);
    const __m512i high = _mm512_loadu_si512(asciiValues.of + 64);
    const __m512i pack = _mm512_setr_epi32(0x06000102, 0x090a0405, 0x0c0d0e08, 0x16101112, 0x191a1415, 0x1c1d1e18,
                                           0x26202122, 0x292a2425, 0x2c2d2e28, 0x36303132, 0x393a3435, 0x3c3d3e38,
                                           0, 0, 0, 0);
    std::size_t done = 0;
    for (; done + 64 <= size; done += 64, out += 48) {
        const __m512i c = _mm512_loadu_si512(in + done);
        const __m512i sixBits = _mm512_permutex2var_epi8(low, c, high);
        // A character from 0x80 up, or one the table marks.
        if (_mm512_test_epi8_mask(_mm512_or_si512(sixBits, c), _mm512_set1_epi8(static_cast<char>(0x80))) != 0) break;
        const __m512i pairs = _mm512_maddubs_epi16(sixBits, _mm512_set1_epi32(0x01400140));
        const __m512i words = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
        _mm512_mask_storeu_epi8(out, 0x0000FFFFFFFFFFFFull, _mm512_maskz_permutexvar_epi8(~0ull, pack, words));
    }
    return done / 4;
}
#endif

}  // namespace

bool isBase64urlCharacter(char c) { return valueOf(3, c) != invalid; }

void appendBase64url(std::string& out, std::string_view bytes) {
    const std::size_t whole = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    const std::size_t start = out.size();
    out.resize(start + 4 * whole + (rest ? rest + 1 : 0));
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* to = out.data() + start;
    std::size_t i = 0;
#if ENVELOPE_HAVE_AVX2
    const detail::Vectors widest = detail::textPath().kind;
    if (widest != detail::Vectors::Sse2) {
        i = widest == detail::Vectors::Avx512Vbmi ? encodeAvx512(in, bytes.size(), to) : 0;
        i += encodeAvx2(in + 3 * i, bytes.size() - 3 * i, to + 4 * i);
        in += 3 * i;
        to += 4 * i;
    }
#endif
    for (; i < whole; ++i, in += 3, to += 4) {
        const std::uint32_t group = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
        std::memcpy(to, pairs.text[group >> 12], 2);
        std::memcpy(to + 2, pairs.text[group & 0xFFF], 2);
    }
    if (rest == 0) return;
    const std::uint32_t group = std::uint32_t{in[0]} << 16 | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0);
    std::memcpy(to, pairs.text[group >> 12], 2);
    if (rest == 2) to[2] = pairs.text[group & 0xFFF][0];
}

bool appendBase64urlBytes(std::string& out, std::string_view text) {
    const std::size_t whole = text.size() / 4;
    const std::size_t rest = text.size() % 4;
    if (rest == 1) return false;
    const std::size_t start = out.size();
    const std::size_t size = 3 * whole + (rest ? rest - 1 : 0);
    // Room for the vector path's last store.
    out.resize(start + size + 8);
    const char* in = text.data();
    auto* to = reinterpret_cast<unsigned char*>(out.data() + start);
    std::size_t i = 0;
#if ENVELOPE_HAVE_AVX2
    const detail::Vectors widest = detail::textPath().kind;
    if (widest != detail::Vectors::Sse2) {
        i = widest == detail::Vectors::Avx512Vbmi ? decodeAvx512(in, text.size(), to) : 0;
        i += decodeAvx2(in + 4 * i, text.size() - 4 * i, to + 3 * i);
        in += 4 * i;
        to += 3 * i;
    }
#endif
    // Every group is decoded, a fault or not; the faults are looked at once.
    std::uint32_t faults = 0;
    for (; i < whole; ++i, in += 4, to += 3) {
        const std::uint32_t group = valueOf(0, in[0]) | valueOf(1, in[1]) | valueOf(2, in[2]) | valueOf(3, in[3]);
        faults |= group;
        to[0] = static_cast<unsigned char>(group >> 16);
        to[1] = static_cast<unsigned char>(group >> 8);
        to[2] = static_cast<unsigned char>(group);
    }
    if (rest != 0) {
        std::uint32_t group = valueOf(0, in[0]) | valueOf(1, in[1]);
        if (rest == 3) group |= valueOf(2, in[2]);
        // The bits below the last whole byte must be zero: 4 of them after
        // two characters, 2 after three.
        const std::uint32_t unused = rest == 2 ? 0xFFFF : 0xFF;
        faults |= group | (group & unused ? invalid : 0);
        to[0] = static_cast<unsigned char>(group >> 16);
        if (rest == 3) to[1] = static_cast<unsigned char>(group >> 8);
    }
    out.resize(start + size);
    return (faults & invalid) == 0;
}

}  // namespace envelope
