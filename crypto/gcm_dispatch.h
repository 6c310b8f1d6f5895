#pragma once
// The implementations behind GcmKey (gcm.h), each one table, and which one
// runs.
//
// Each table stands on one of the AES unit's paths: its counter mode runs that
// path's cipher, several blocks in flight, and its hash multiplies with that
// path's means: carry-less multiplication where the processor has it
// (PCLMULQDQ on the AES-NI path, VPCLMULQDQ on YMM or ZMM registers on the
// VAES paths), constant-time integer multiplication on the portable path. All
// give the same bytes.
//
// GcmKey follows the AES unit's choice (aes_dispatch.h): the table of the kind
// that runs there, or the next narrower one where that kind has none (VAES
// without VPCLMULQDQ), so that forcing the AES unit's path forces this one too.
// Tests and benchmarks reach each table directly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/ElAES.h"
#include "crypto/aes_dispatch.h"

namespace ElAES::gcm {

// An element of the hash's field as every path holds it: the 16 bytes of a
// block in reverse order, read as a little-endian 128-bit number (lo its low
// 64 bits). Bit i is then the coefficient of x^(127-i) of the block's
// polynomial, and the carry-less product of two elements, reduced with
// x^-128 (two folds by the constant 0xc2 << 56), is the field's product once
// the hash key has been multiplied by x: every multiplication here is of that
// kind.
struct FieldElement {
    std::uint64_t lo;
    std::uint64_t hi;
};
static_assert(sizeof(FieldElement) == 16, "two words, no padding: the vector paths load it whole");

// The most powers of the hash key that a path uses: its blocks in flight.
constexpr std::size_t kMaxPowers = 32;

// The key material of one key: the AES encryption schedule and the powers of
// the hash key H (already multiplied by x), highest first: power[kMaxPowers -
// k] is H^k, for k = 1 up to the path's own count. So k consecutive blocks
// meet H^k .. H^1 in consecutive memory.
struct KeyMaterial {
    Schedule schedule;
    FieldElement power[kMaxPowers];
};

// One implementation. Runs of whole blocks go through the path's own
// functions; the mode around them (the counter block from the nonce, a last
// partial block, the lengths, the tag) is written once (gcm.cpp).
struct GcmTable {
    Implementation kind;  // the AES path it stands on
    const char* name;     // implementationName(kind)

    // The AES path's schedule builder and single block.
    void (*buildEncryptionSchedule)(const Key& key, Schedule& schedule);
    void (*encryptBlock)(const Block& input, const Schedule& schedule, Block& output);
    // H^2 and up, as many as the path uses, from H^1 in power[kMaxPowers - 1].
    void (*extendPowers)(KeyMaterial& material);
    // The hash over `blocks` whole blocks: hash = (hash ^ X) * H, block by block.
    void (*hashBlocks)(const KeyMaterial& material, const std::uint8_t* in, std::size_t blocks,
                       FieldElement& hash);
    // Counter mode over `blocks` whole blocks, in to out (the same storage or
    // apart), and the hash over the ciphertext: what is written (seal) or
    // what is read (open, every block hashed before its storage is written).
    // counter is the counter block of the first block (the last four bytes a
    // big-endian count, which wraps within them) and comes back as the next.
    void (*sealBlocks)(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                       std::size_t blocks, FieldElement& hash);
    void (*openBlocks)(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                       std::size_t blocks, FieldElement& hash);
    // Keeps the bytes where mask is all ones and zeros them where it is zero,
    // writing every byte either way: what opening does with its output once
    // the tags are compared, without a branch on the outcome.
    void (*keepUnder)(std::uint8_t* bytes, std::size_t size, std::uint64_t mask);
};

// The portable table, on every processor: the table-based cipher (not
// constant-time, see ElAES.h) and a constant-time hash.
const GcmTable& portableGcm();

// The table of that kind where this build has it and the processor and the
// operating system can run it; null anywhere else.
const GcmTable* gcmImplementationOf(Implementation kind);

// Every table that runs here, narrowest (the portable one) first.
std::vector<const GcmTable*> availableGcmImplementations();

// The table GcmKey uses now: that of the AES unit's active path, or the next
// narrower one that runs.
const GcmTable& chosenGcm();

}  // namespace ElAES::gcm
