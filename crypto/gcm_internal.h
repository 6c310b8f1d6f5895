#pragma once
// Internals shared by the GCM sources: the byte order of field elements, the
// tables of the instruction paths, and what the VAES paths borrow from the
// PCLMULQDQ path. Not part of the interface.
#include <cstddef>
#include <cstdint>

#include "crypto/aes_internal.h"
#include "crypto/gcm_dispatch.h"

namespace ElAES::gcm {

// The element a 16-byte block stands for (gcm_dispatch.h), and back. Built
// from the bytes, so the same on every byte order.
ELAES_INLINE std::uint64_t loadBigEndian64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

ELAES_INLINE void storeBigEndian64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}

ELAES_INLINE FieldElement fieldOf(const std::uint8_t* block) {
    return {loadBigEndian64(block + 8), loadBigEndian64(block)};
}

ELAES_INLINE void storeField(std::uint8_t* block, const FieldElement& x) {
    storeBigEndian64(block, x.hi);
    storeBigEndian64(block + 8, x.lo);
}

// The counter block after this one: its last four bytes, a big-endian count,
// plus one modulo 2^32. No branch: after a nonce of other than 12 bytes the
// count comes from the hash key.
ELAES_INLINE void incrementCounter(Block& counter) {
    std::uint32_t count = static_cast<std::uint32_t>(counter[12]) << 24 |
                          static_cast<std::uint32_t>(counter[13]) << 16 |
                          static_cast<std::uint32_t>(counter[14]) << 8 | counter[15];
    ++count;
    counter[12] = static_cast<std::uint8_t>(count >> 24);
    counter[13] = static_cast<std::uint8_t>(count >> 16);
    counter[14] = static_cast<std::uint8_t>(count >> 8);
    counter[15] = static_cast<std::uint8_t>(count);
}

// GcmTable::keepUnder a word at a time, on every processor.
void keepUnderWords(std::uint8_t* bytes, std::size_t size, std::uint64_t mask);

// The tables of the instruction paths where this build has them and the
// processor can run them; null anywhere else.
const GcmTable* clmulGcm();
const GcmTable* vaes256Gcm();
const GcmTable* vaes512Gcm();

#if ELAES_HAVE_AESNI
// The PCLMULQDQ path's own functions (gcm_clmul.cpp). The VAES paths take
// their key powers from it, and leave it the blocks that do not fill one of
// their runs. Only to be called where clmulGcm() is not null.
namespace clmul {
void extendPowers(KeyMaterial& material, std::size_t count);
void hashBlocks(const KeyMaterial& material, const std::uint8_t* in, std::size_t blocks, FieldElement& hash);
void sealBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, FieldElement& hash);
void openBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, FieldElement& hash);
}  // namespace clmul
#endif

}  // namespace ElAES::gcm
