// GCM on the portable path: the counter mode over the table-based cipher, and
// the hash with carry-less products made of ordinary integer multiplications.
// The hash reads no table, and no branch or address depends on the hash key
// or the data: multiplication takes the same time whatever its operands on
// the processors this runs on, so the hash is constant-time. The cipher under
// it is not (ElAES.h).
#include <cstring>

#include "crypto/gcm_internal.h"
#include "crypto/wipe.h"

namespace ElAES::gcm {
namespace {

// The low 64 bits of the carry-less product of x and y. Each operand is split
// into four sets of every fourth bit; an integer product of two such sets puts
// its terms only on positions of one residue modulo 4, at most 16 of them on
// one position (16 only from bit 60 up, where the carry leaves the word), so a
// position's carries never reach the next position of its residue: its bit is
// the parity of its terms, which is the carry-less bit. The wrong bits in
// between are masked away.
std::uint64_t lowProduct(std::uint64_t x, std::uint64_t y) {
    constexpr std::uint64_t m0 = 0x1111111111111111, m1 = 0x2222222222222222, m2 = 0x4444444444444444,
                            m3 = 0x8888888888888888;
    const std::uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    const std::uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    const std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    const std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    const std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    const std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

std::uint64_t reverseBits(std::uint64_t x) {
    x = ((x >> 1) & 0x5555555555555555) | ((x & 0x5555555555555555) << 1);
    x = ((x >> 2) & 0x3333333333333333) | ((x & 0x3333333333333333) << 2);
    x = ((x >> 4) & 0x0f0f0f0f0f0f0f0f) | ((x & 0x0f0f0f0f0f0f0f0f) << 4);
    x = ((x >> 8) & 0x00ff00ff00ff00ff) | ((x & 0x00ff00ff00ff00ff) << 8);
    x = ((x >> 16) & 0x0000ffff0000ffff) | ((x & 0x0000ffff0000ffff) << 16);
    return (x >> 32) | (x << 32);
}

// The whole 127-bit carry-less product: the high half is the low half of the
// product of the bit-reversed operands, reversed, one bit short.
void product64(std::uint64_t x, std::uint64_t y, std::uint64_t& lo, std::uint64_t& hi) {
    lo = lowProduct(x, y);
    hi = reverseBits(lowProduct(reverseBits(x), reverseBits(y))) >> 1;
}

// x times 0xc2 << 56 (x^63 + x^62 + x^57), as two words: the fold constant.
void foldTerm(std::uint64_t x, std::uint64_t& lo, std::uint64_t& hi) {
    lo = (x << 63) ^ (x << 62) ^ (x << 57);
    hi = (x >> 1) ^ (x >> 2) ^ (x >> 7);
}

// a * b * x^-128: Karatsuba's three products, then the low 128 bits folded
// away 64 at a time.
FieldElement multiply(const FieldElement& a, const FieldElement& b) {
    std::uint64_t l0, l1, h0, h1, m0, m1;
    product64(a.lo, b.lo, l0, l1);
    product64(a.hi, b.hi, h0, h1);
    product64(a.lo ^ a.hi, b.lo ^ b.hi, m0, m1);
    m0 ^= l0 ^ h0;
    m1 ^= l1 ^ h1;
    const std::uint64_t t0 = l0, t1 = l1 ^ m0, t2 = h0 ^ m1, t3 = h1;
    std::uint64_t f0, f1;
    foldTerm(t0, f0, f1);
    const std::uint64_t u0 = t1 ^ f0, u1 = t0 ^ f1;
    foldTerm(u0, f0, f1);
    return {t2 ^ u1 ^ f0, t3 ^ u0 ^ f1};
}

const FieldElement& hashKey(const KeyMaterial& material) { return material.power[kMaxPowers - 1]; }

// Block by block: a multiplication costs far more than the reduction that
// aggregation would save.
void extendPowers(KeyMaterial&) {}

void hashBlocks(const KeyMaterial& material, const std::uint8_t* in, std::size_t blocks, FieldElement& hash) {
    const FieldElement& h = hashKey(material);
    for (std::size_t i = 0; i < blocks; ++i, in += 16) {
        const FieldElement x = fieldOf(in);
        hash = multiply({hash.lo ^ x.lo, hash.hi ^ x.hi}, h);
    }
}

template <bool sealing>
void cryptBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                 std::size_t blocks, FieldElement& hash) {
    Block keystream;
    Block text;
    const WipeOnExit wipeKeystream(keystream);
    const WipeOnExit wipeText(text);
    for (std::size_t i = 0; i < blocks; ++i, in += 16, out += 16) {
        std::memcpy(text.data(), in, 16);
        if (!sealing) hashBlocks(material, text.data(), 1, hash);
        portable::encryptBlock(counter, material.schedule, keystream);
        incrementCounter(counter);
        for (std::size_t j = 0; j < 16; ++j) text[j] ^= keystream[j];
        if (sealing) hashBlocks(material, text.data(), 1, hash);
        std::memcpy(out, text.data(), 16);
    }
}

constexpr GcmTable kPortable = {
    Implementation::Portable,
    implementationName(Implementation::Portable),
    portable::buildEncryptionSchedule,
    portable::encryptBlock,
    extendPowers,
    hashBlocks,
    cryptBlocks<true>,
    cryptBlocks<false>,
    keepUnderWords,
};

}  // namespace

void keepUnderWords(std::uint8_t* bytes, std::size_t size, std::uint64_t mask) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        word &= mask;
        std::memcpy(bytes + i, &word, 8);
    }
    for (; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] & mask);
}

const GcmTable& portableGcm() { return kPortable; }

}  // namespace ElAES::gcm
