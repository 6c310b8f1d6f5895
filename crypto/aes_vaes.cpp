// The multi-block operation on VAES: AESENC and AESDEC on every 128-bit lane
// of a YMM register (two blocks) or a ZMM register (four blocks). Eight
// registers in flight hide the instructions' latency as AES-NI's twelve XMM
// blocks do, with two or four blocks a register. Schedules, single blocks and a
// last odd block are AES-NI's own (aes_hw.cpp): a table here differs from
// AES-NI's only in its multi-block entry.
//
// As there, no table is read and no branch or address depends on the key or
// the data; only these functions carry the wider target attributes, and they
// run only once cpu::features() has seen VAES in CPUID and the registers'
// state saved by the operating system (XGETBV). Each round key is broadcast
// to every lane from the schedule as the round needs it, so that nine
// registers do and none spills to the stack (on Windows the stack is not
// aligned for YMM or ZMM spills).
#include "crypto/aes_internal.h"

#if ELAES_HAVE_AESNI

#include <immintrin.h>

#include "crypto/aes_stream_loop.h"
#include "crypto/cpu_features.h"

#define ELAES_VAES256 __attribute__((target("aes,sse4.1,avx2,vaes")))
#define ELAES_VAES512 __attribute__((target("aes,sse4.1,avx2,vaes,avx512f")))

#if defined(__clang__)
#define ELAES_UNROLL _Pragma("unroll")
#else
#define ELAES_UNROLL _Pragma("GCC unroll 8")
#endif

namespace ElAES::vaes {
namespace {

const __m128i* roundKeyAt(const Schedule& schedule, unsigned r) {
    return reinterpret_cast<const __m128i*>(schedule.w + 4 * r);
}

// ---- YMM: two blocks a register ----------------------------------------------

ELAES_VAES256 ELAES_INLINE __m256i key256(const Schedule& schedule, unsigned r) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(roundKeyAt(schedule, r)));
}

// N registers, 2N blocks, loaded first and stored last.
template <int N, bool encrypt>
ELAES_VAES256 ELAES_INLINE void group256(const std::uint8_t* in, std::uint8_t* out, const Schedule& schedule) {
    __m256i s[N];
    const __m256i first = key256(schedule, encrypt ? 0 : 14);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        s[j] = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * j)), first);
    }
    for (unsigned r = 1; r < 14; ++r) {
        const __m256i k = key256(schedule, encrypt ? r : 14 - r);
        ELAES_UNROLL
        for (int j = 0; j < N; ++j) s[j] = encrypt ? _mm256_aesenc_epi128(s[j], k) : _mm256_aesdec_epi128(s[j], k);
    }
    const __m256i last = key256(schedule, encrypt ? 14 : 0);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        s[j] = encrypt ? _mm256_aesenclast_epi128(s[j], last) : _mm256_aesdeclast_epi128(s[j], last);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * j), s[j]);
    }
}

template <bool encrypt>
ELAES_VAES256 void blocks256(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule) {
    for (; blocks >= 16; blocks -= 16, in += 256, out += 256) group256<8, encrypt>(in, out, schedule);
    if (blocks & 8) {
        group256<4, encrypt>(in, out, schedule);
        in += 128;
        out += 128;
    }
    if (blocks & 4) {
        group256<2, encrypt>(in, out, schedule);
        in += 64;
        out += 64;
    }
    if (blocks & 2) {
        group256<1, encrypt>(in, out, schedule);
        in += 32;
        out += 32;
    }
    if (blocks & 1) {
        Block block;
        std::memcpy(block.data(), in, 16);
        if (encrypt) {
            aesni::encryptBlock(block, schedule, block);
        } else {
            aesni::decryptBlock(block, schedule, block);
        }
        std::memcpy(out, block.data(), 16);
        wipeObject(block);
    }
    // Nothing of the state stays behind in the upper halves.
    _mm256_zeroupper();
}

// ---- ZMM: four blocks a register ---------------------------------------------

ELAES_VAES512 ELAES_INLINE __m512i key512(const Schedule& schedule, unsigned r) {
    // The zero-masking form: the plain one starts from an undefined register,
    // which GCC 12 warns of.
    return _mm512_maskz_broadcast_i32x4(static_cast<__mmask16>(0xffff), _mm_loadu_si128(roundKeyAt(schedule, r)));
}

// N registers, 4N blocks; the last register takes only the blocks that its
// mask (16 bits, four for each block) selects, so that 1 to 3 blocks need no
// loop of their own.
template <int N, bool encrypt>
ELAES_VAES512 ELAES_INLINE void group512(const std::uint8_t* in, std::uint8_t* out, const Schedule& schedule,
                                         __mmask16 lastMask) {
    __m512i s[N];
    const __m512i first = key512(schedule, encrypt ? 0 : 14);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        const __mmask16 mask = j == N - 1 ? lastMask : static_cast<__mmask16>(0xffff);
        s[j] = _mm512_xor_si512(_mm512_maskz_loadu_epi32(mask, in + 64 * j), first);
    }
    for (unsigned r = 1; r < 14; ++r) {
        const __m512i k = key512(schedule, encrypt ? r : 14 - r);
        ELAES_UNROLL
        for (int j = 0; j < N; ++j) s[j] = encrypt ? _mm512_aesenc_epi128(s[j], k) : _mm512_aesdec_epi128(s[j], k);
    }
    const __m512i last = key512(schedule, encrypt ? 14 : 0);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        const __mmask16 mask = j == N - 1 ? lastMask : static_cast<__mmask16>(0xffff);
        s[j] = encrypt ? _mm512_aesenclast_epi128(s[j], last) : _mm512_aesdeclast_epi128(s[j], last);
        _mm512_mask_storeu_epi32(out + 64 * j, mask, s[j]);
    }
}

template <bool encrypt>
ELAES_VAES512 void blocks512(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule) {
    constexpr __mmask16 all = 0xffff;
    for (; blocks >= 32; blocks -= 32, in += 512, out += 512) group512<8, encrypt>(in, out, schedule, all);
    if (blocks & 16) {
        group512<4, encrypt>(in, out, schedule, all);
        in += 256;
        out += 256;
    }
    if (blocks & 8) {
        group512<2, encrypt>(in, out, schedule, all);
        in += 128;
        out += 128;
    }
    if (blocks & 7) {
        // 1 to 7 blocks: one full register and a masked one, or a masked one.
        const unsigned rest = static_cast<unsigned>(blocks & 7);
        if (rest > 4) {
            group512<2, encrypt>(in, out, schedule, static_cast<__mmask16>((1u << (4 * (rest - 4))) - 1));
        } else {
            group512<1, encrypt>(in, out, schedule, static_cast<__mmask16>((1u << (4 * rest)) - 1));
        }
    }
    _mm256_zeroupper();
}

constexpr ImplementationTable kVaes256 = {
    Implementation::Vaes256,
    implementationName(Implementation::Vaes256),
    aesni::buildEncryptionSchedule,
    aesni::buildDecryptionSchedule,
    aesni::encryptBlock,
    aesni::decryptBlock,
    blocks256<true>,
    blocks256<false>,
    detail::encryptRun<aesni::encryptBlock, blocks256<true>>,
    detail::decryptRun<aesni::decryptBlock, blocks256<false>>,
};

constexpr ImplementationTable kVaes512 = {
    Implementation::Vaes512,
    implementationName(Implementation::Vaes512),
    aesni::buildEncryptionSchedule,
    aesni::buildDecryptionSchedule,
    aesni::encryptBlock,
    aesni::decryptBlock,
    blocks512<true>,
    blocks512<false>,
    detail::encryptRun<aesni::encryptBlock, blocks512<true>>,
    detail::decryptRun<aesni::decryptBlock, blocks512<false>>,
};

}  // namespace
}  // namespace ElAES::vaes

namespace ElAES::detail {

const ImplementationTable* vaes256Implementation() { return cpu::features().vaes256 ? &vaes::kVaes256 : nullptr; }

const ImplementationTable* vaes512Implementation() { return cpu::features().vaes512 ? &vaes::kVaes512 : nullptr; }

}  // namespace ElAES::detail

#else  // !ELAES_HAVE_AESNI

namespace ElAES::detail {

const ImplementationTable* vaes256Implementation() { return nullptr; }

const ImplementationTable* vaes512Implementation() { return nullptr; }

}  // namespace ElAES::detail

#endif  // ELAES_HAVE_AESNI
