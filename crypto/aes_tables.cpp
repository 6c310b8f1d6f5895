// The four 1 KB lookup tables of the cipher, computed by the compiler from the
// definitions of the S-box and of multiplication in GF(2^8), and placed in
// read-only data.
#include "crypto/aes_internal.h"

namespace ElAES::detail {
namespace {

// Multiplication by x (that is, by 2) modulo x^8 + x^4 + x^3 + x + 1.
constexpr std::uint8_t xtime(std::uint8_t a) {
    return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) != 0 ? 0x1b : 0x00));
}

constexpr std::uint8_t multiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr std::uint8_t rotl8(std::uint8_t x, unsigned n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

struct SBoxes {
    std::uint8_t forward[256] = {};
    std::uint8_t inverse[256] = {};
};

// S[x] is the affine transformation of the multiplicative inverse of x (0 for
// 0). Inverses come from powers of the generator 3: x = 3^l gives 1/x = 3^(255-l).
constexpr SBoxes makeSBoxes() {
    std::uint8_t power[255] = {};
    std::uint8_t logarithm[256] = {};
    std::uint8_t p = 1;
    for (unsigned l = 0; l < 255; ++l) {
        power[l] = p;
        logarithm[p] = static_cast<std::uint8_t>(l);
        p = multiply(p, 3);
    }
    SBoxes boxes;
    for (unsigned x = 0; x < 256; ++x) {
        const std::uint8_t b = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
        const std::uint8_t s =
            static_cast<std::uint8_t>(b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4) ^ 0x63);
        boxes.forward[x] = s;
        boxes.inverse[s] = static_cast<std::uint8_t>(x);
    }
    return boxes;
}

constexpr SBoxes kBoxes = makeSBoxes();

constexpr std::uint32_t word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    return static_cast<std::uint32_t>(b0) | (static_cast<std::uint32_t>(b1) << 8) |
           (static_cast<std::uint32_t>(b2) << 16) | (static_cast<std::uint32_t>(b3) << 24);
}

enum class Kind { ForwardRound, SboxWord, InverseRound, InverseSboxWord };

constexpr Table makeTable(Kind kind) {
    Table table = {};
    for (unsigned x = 0; x < 256; ++x) {
        const std::uint8_t s = kBoxes.forward[x];
        const std::uint8_t si = kBoxes.inverse[x];
        switch (kind) {
        case Kind::ForwardRound:
            table[x] = word(multiply(s, 2), s, s, multiply(s, 3));
            break;
        case Kind::SboxWord:
            table[x] = word(s, 0, 0, 0);
            break;
        case Kind::InverseRound:
            table[x] = word(multiply(si, 14), multiply(si, 9), multiply(si, 13), multiply(si, 11));
            break;
        case Kind::InverseSboxWord:
            table[x] = word(si, 0, 0, 0);
            break;
        }
    }
    return table;
}

constexpr Table kForwardRound = makeTable(Kind::ForwardRound);
constexpr Table kSboxWord = makeTable(Kind::SboxWord);
constexpr Table kInverseRound = makeTable(Kind::InverseRound);
constexpr Table kInverseSboxWord = makeTable(Kind::InverseSboxWord);

// Known entries: FIPS-197's S-box and inverse S-box at 0x00, 0x53 and 0xff.
static_assert(kBoxes.forward[0x00] == 0x63 && kBoxes.forward[0x53] == 0xed && kBoxes.forward[0xff] == 0x16);
static_assert(kBoxes.inverse[0x00] == 0x52 && kBoxes.inverse[0xed] == 0x53 && kBoxes.inverse[0xff] == 0x7d);
static_assert(kForwardRound[0] == 0xa56363c6u);
static_assert(kSboxWord[0] == 0x00000063u);
static_assert(kInverseRound[0] == 0x50a7f451u);
static_assert(kInverseSboxWord[0] == 0x00000052u);

}  // namespace

alignas(64) const Table forwardRoundTable = kForwardRound;
alignas(64) const Table sboxWordTable = kSboxWord;
alignas(64) const Table inverseRoundTable = kInverseRound;
alignas(64) const Table inverseSboxWordTable = kInverseSboxWord;

}  // namespace ElAES::detail
