#pragma once
// Internals shared by the AES sources: the constant tables, the word helpers,
// the chosen implementation. Not part of the unit's interface.
#include <array>
#include <atomic>
#include <cstdint>

#include "crypto/aes_dispatch.h"

#if defined(__GNUC__)
#define ELAES_INLINE inline __attribute__((always_inline))
#else
#define ELAES_INLINE inline
#endif

// The tables are this library's own: declaring them hidden lets position-
// independent code address them directly instead of through the GOT.
#if defined(__GNUC__) && !defined(_WIN32)
#define ELAES_LOCAL __attribute__((visibility("hidden")))
#else
#define ELAES_LOCAL
#endif

namespace ElAES::detail {

using Table = std::array<std::uint32_t, 256>;

// Entry for x, bytes 0 (least significant) to 3, with S the S-box, Si its
// inverse and products in GF(2^8):
extern ELAES_LOCAL const Table forwardRoundTable;     // 2·S[x], S[x], S[x], 3·S[x]
extern ELAES_LOCAL const Table sboxWordTable;         // S[x], 0, 0, 0
extern ELAES_LOCAL const Table inverseRoundTable;     // 14·Si[x], 9·Si[x], 13·Si[x], 11·Si[x]
extern ELAES_LOCAL const Table inverseSboxWordTable;  // Si[x], 0, 0, 0

// Rotation left by n bits, 0 < n < 32 (8, 16 or 24 here).
ELAES_INLINE constexpr std::uint32_t rotl(std::uint32_t x, unsigned n) {
    return (x << n) | (x >> (32u - n));
}

// Byte k (bits 8k to 8k+7) of a word, as a table index.
ELAES_INLINE constexpr unsigned byteOf(std::uint32_t x, unsigned k) {
    return (x >> (8u * k)) & 0xffu;
}

// A column word from four bytes, p[0] in the least significant byte. Built
// from the bytes, so it means the same on every byte order.
ELAES_INLINE std::uint32_t loadWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The four bytes of a column word, least significant first.
ELAES_INLINE void storeWord(std::uint8_t* p, std::uint32_t x) {
    p[0] = static_cast<std::uint8_t>(x);
    p[1] = static_cast<std::uint8_t>(x >> 8);
    p[2] = static_cast<std::uint8_t>(x >> 16);
    p[3] = static_cast<std::uint8_t>(x >> 24);
}

// The table that the functions of ElAES.h follow: null until the first call
// chooses. Constant-initialised, as the tables are, so a call made while other
// static objects are being constructed finds both ready.
extern ELAES_LOCAL std::atomic<const ImplementationTable*> chosenTable;

// Chooses from CPUID (and forcePortable), records and returns the choice.
// Kept out of line, so that chosen() stays a load and a branch.
#if defined(__GNUC__)
__attribute__((noinline, cold))
#endif
const ImplementationTable& choose();

ELAES_INLINE const ImplementationTable& chosen() {
    const ImplementationTable* table = chosenTable.load(std::memory_order_relaxed);
    return table != nullptr ? *table : choose();
}

}  // namespace ElAES::detail

// The portable path's operations, defined across the files of the table-based
// code and gathered into its table in aes_portable.cpp.
namespace ElAES::portable {
void buildEncryptionSchedule(const Key& key, Schedule& schedule);
void buildDecryptionSchedule(const Key& key, Schedule& schedule);
void encryptBlock(const Block& input, const Schedule& schedule, Block& output);
void decryptBlock(const Block& input, const Schedule& schedule, Block& output);
}  // namespace ElAES::portable

namespace ElAES::detail {
// The AES-NI table (aes_hw.cpp) where this build has it and the processor can
// run it; null anywhere else.
const ImplementationTable* aesniImplementation();
// The VAES tables (aes_vaes.cpp) where this build has them and the processor
// and the operating system can run them; null anywhere else.
const ImplementationTable* vaes256Implementation();
const ImplementationTable* vaes512Implementation();
}  // namespace ElAES::detail

#if ELAES_HAVE_AESNI
// The AES-NI operations (aes_hw.cpp) that the VAES tables share: schedules
// and single blocks are the same on every instruction path. Only to be called
// where detail::aesniImplementation() is not null.
namespace ElAES::aesni {
void buildEncryptionSchedule(const Key& key, Schedule& schedule);
void buildDecryptionSchedule(const Key& key, Schedule& schedule);
void encryptBlock(const Block& input, const Schedule& schedule, Block& output);
void decryptBlock(const Block& input, const Schedule& schedule, Block& output);
}  // namespace ElAES::aesni
#endif
