// AES-256 on the AES instructions of x86 processors: key expansion with
// AESKEYGENASSIST, the decryption schedule with AESIMC, and the 14 rounds of a
// block with AESENC/AESENCLAST and AESDEC/AESDECLAST. No table is read and no
// branch depends on the key or the data, so the time taken does not either.
//
// Only the functions below carry the target attribute, and nothing here runs
// unless detail::aesniImplementation() has seen AES-NI and SSE4.1 in CPUID and given
// out the table: the rest of the program stays plain x86-64 code. The stream
// loops instantiated here are plain code too and call the block operations.
//
// One block's rounds wait on each other (AESENC's latency), but the AES unit
// takes a new round every cycle or so: the multi-block operation keeps twelve
// blocks in flight, each round key loaded once for all twelve. Eight would
// just fill the units where AESENC takes four cycles and two issue a cycle,
// with no slack for the loads, stores and first XOR between groups; twelve
// were 8 % faster on 64 KiB here, and thirteen registers do, so nothing
// spills: neither round keys nor blocks are copied to the stack.
#include "crypto/aes_internal.h"

#if ELAES_HAVE_AESNI

#include <immintrin.h>

#include "crypto/aes_stream_loop.h"
#include "crypto/cpu_features.h"

#define ELAES_AESNI __attribute__((target("aes,sse4.1")))

namespace ElAES::aesni {
namespace {

#if defined(__clang__)
#define ELAES_UNROLL _Pragma("unroll")
#else
#define ELAES_UNROLL _Pragma("GCC unroll 12")
#endif

// Round key r of a schedule: words 4r to 4r+3, whose little-endian bytes are
// the 16 bytes of the round key in FIPS-197 order.
ELAES_AESNI ELAES_INLINE __m128i roundKey(const Schedule& schedule, unsigned r) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule.w + 4 * r));
}

ELAES_AESNI ELAES_INLINE void setRoundKey(Schedule& schedule, unsigned r, __m128i k) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(schedule.w + 4 * r), k);
}

// Each word of x xor all the words below it: word j becomes x0 ^ ... ^ xj,
// the chain W[i+1] = W[i+1-8] ^ W[i] of the key expansion for four words.
ELAES_AESNI ELAES_INLINE __m128i prefixXor(__m128i x) {
    x = _mm_xor_si128(x, _mm_slli_si128(x, 4));
    return _mm_xor_si128(x, _mm_slli_si128(x, 8));
}

// The first half of a pass: W[i+8..i+11] from W[i..i+3], with assist the
// AESKEYGENASSIST of W[i+4..i+7] under the pass's round constant, whose word 3
// is SubWord(RotWord(W[i+7])) ^ Rcon.
ELAES_AESNI ELAES_INLINE __m128i firstHalf(__m128i previous, __m128i assist) {
    return _mm_xor_si128(prefixXor(previous), _mm_shuffle_epi32(assist, 0xff));
}

// The second half: W[i+12..i+15] from W[i+4..i+7], with assist the
// AESKEYGENASSIST of W[i+8..i+11], whose word 2 is SubWord(W[i+11]).
ELAES_AESNI ELAES_INLINE __m128i secondHalf(__m128i previous, __m128i assist) {
    return _mm_xor_si128(prefixXor(previous), _mm_shuffle_epi32(assist, 0xaa));
}

// N blocks side by side, through all the rounds, loaded first and stored last
// (so in and out may be the same storage).
template <int N>
ELAES_AESNI ELAES_INLINE void encryptGroup(const std::uint8_t* in, std::uint8_t* out, const Schedule& schedule) {
    __m128i s[N];
    const __m128i first = roundKey(schedule, 0);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        s[j] = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * j)), first);
    }
    for (unsigned r = 1; r < 14; ++r) {
        const __m128i k = roundKey(schedule, r);
        ELAES_UNROLL
        for (int j = 0; j < N; ++j) s[j] = _mm_aesenc_si128(s[j], k);
    }
    const __m128i last = roundKey(schedule, 14);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * j), _mm_aesenclast_si128(s[j], last));
    }
}

template <int N>
ELAES_AESNI ELAES_INLINE void decryptGroup(const std::uint8_t* in, std::uint8_t* out, const Schedule& schedule) {
    __m128i s[N];
    const __m128i first = roundKey(schedule, 14);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        s[j] = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * j)), first);
    }
    for (unsigned r = 13; r > 0; --r) {
        const __m128i k = roundKey(schedule, r);
        ELAES_UNROLL
        for (int j = 0; j < N; ++j) s[j] = _mm_aesdec_si128(s[j], k);
    }
    const __m128i last = roundKey(schedule, 0);
    ELAES_UNROLL
    for (int j = 0; j < N; ++j) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * j), _mm_aesdeclast_si128(s[j], last));
    }
}

ELAES_AESNI void encryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                               const Schedule& schedule) {
    for (; blocks >= 12; blocks -= 12, in += 192, out += 192) encryptGroup<12>(in, out, schedule);
    // The rest, 0 to 11 blocks, still side by side: a short message is a few.
    if (blocks >= 8) {
        encryptGroup<8>(in, out, schedule);
        in += 128;
        out += 128;
        blocks -= 8;
    }
    if (blocks & 4) {
        encryptGroup<4>(in, out, schedule);
        in += 64;
        out += 64;
    }
    if (blocks & 2) {
        encryptGroup<2>(in, out, schedule);
        in += 32;
        out += 32;
    }
    if (blocks & 1) encryptGroup<1>(in, out, schedule);
}

ELAES_AESNI void decryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                               const Schedule& schedule) {
    for (; blocks >= 12; blocks -= 12, in += 192, out += 192) decryptGroup<12>(in, out, schedule);
    if (blocks >= 8) {
        decryptGroup<8>(in, out, schedule);
        in += 128;
        out += 128;
        blocks -= 8;
    }
    if (blocks & 4) {
        decryptGroup<4>(in, out, schedule);
        in += 64;
        out += 64;
    }
    if (blocks & 2) {
        decryptGroup<2>(in, out, schedule);
        in += 32;
        out += 32;
    }
    if (blocks & 1) decryptGroup<1>(in, out, schedule);
}

bool processorHasAesNi() { return cpu::features().aesni; }

}  // namespace

ELAES_AESNI void buildEncryptionSchedule(const Key& key, Schedule& schedule) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data()));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data() + 16));
    setRoundKey(schedule, 0, a);
    setRoundKey(schedule, 1, b);
    // Seven passes of eight words, Rcon 0x01 to 0x40; the round constant is an
    // immediate operand, hence the passes written out. The last pass gives
    // W[56..59] and the four further words W[60..63].
#define ELAES_PASS(p, rcon)                                            \
    a = firstHalf(a, _mm_aeskeygenassist_si128(b, rcon));              \
    setRoundKey(schedule, 2 * (p), a);                                 \
    b = secondHalf(b, _mm_aeskeygenassist_si128(a, 0));                \
    setRoundKey(schedule, 2 * (p) + 1, b)
    ELAES_PASS(1, 0x01);
    ELAES_PASS(2, 0x02);
    ELAES_PASS(3, 0x04);
    ELAES_PASS(4, 0x08);
    ELAES_PASS(5, 0x10);
    ELAES_PASS(6, 0x20);
    ELAES_PASS(7, 0x40);
#undef ELAES_PASS
}

ELAES_AESNI void buildDecryptionSchedule(const Key& key, Schedule& schedule) {
    aesni::buildEncryptionSchedule(key, schedule);
    // InvMixColumns of round keys 1 to 13, in place and in the same order.
    for (unsigned r = 1; r < 14; ++r) {
        setRoundKey(schedule, r, _mm_aesimc_si128(roundKey(schedule, r)));
    }
}

ELAES_AESNI void encryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    // The whole input is read here, before anything is written.
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input.data()));
    s = _mm_xor_si128(s, roundKey(schedule, 0));
    s = _mm_aesenc_si128(s, roundKey(schedule, 1));
    s = _mm_aesenc_si128(s, roundKey(schedule, 2));
    s = _mm_aesenc_si128(s, roundKey(schedule, 3));
    s = _mm_aesenc_si128(s, roundKey(schedule, 4));
    s = _mm_aesenc_si128(s, roundKey(schedule, 5));
    s = _mm_aesenc_si128(s, roundKey(schedule, 6));
    s = _mm_aesenc_si128(s, roundKey(schedule, 7));
    s = _mm_aesenc_si128(s, roundKey(schedule, 8));
    s = _mm_aesenc_si128(s, roundKey(schedule, 9));
    s = _mm_aesenc_si128(s, roundKey(schedule, 10));
    s = _mm_aesenc_si128(s, roundKey(schedule, 11));
    s = _mm_aesenc_si128(s, roundKey(schedule, 12));
    s = _mm_aesenc_si128(s, roundKey(schedule, 13));
    s = _mm_aesenclast_si128(s, roundKey(schedule, 14));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(output.data()), s);
}

ELAES_AESNI void decryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    // The equivalent inverse cipher: round key 14 first, then round keys 13 to
    // 1 as the decryption schedule holds them (through InvMixColumns), then
    // round key 0.
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input.data()));
    s = _mm_xor_si128(s, roundKey(schedule, 14));
    s = _mm_aesdec_si128(s, roundKey(schedule, 13));
    s = _mm_aesdec_si128(s, roundKey(schedule, 12));
    s = _mm_aesdec_si128(s, roundKey(schedule, 11));
    s = _mm_aesdec_si128(s, roundKey(schedule, 10));
    s = _mm_aesdec_si128(s, roundKey(schedule, 9));
    s = _mm_aesdec_si128(s, roundKey(schedule, 8));
    s = _mm_aesdec_si128(s, roundKey(schedule, 7));
    s = _mm_aesdec_si128(s, roundKey(schedule, 6));
    s = _mm_aesdec_si128(s, roundKey(schedule, 5));
    s = _mm_aesdec_si128(s, roundKey(schedule, 4));
    s = _mm_aesdec_si128(s, roundKey(schedule, 3));
    s = _mm_aesdec_si128(s, roundKey(schedule, 2));
    s = _mm_aesdec_si128(s, roundKey(schedule, 1));
    s = _mm_aesdeclast_si128(s, roundKey(schedule, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(output.data()), s);
}

namespace {

constexpr ImplementationTable kAesNi = {
    Implementation::AesNi,
    implementationName(Implementation::AesNi),
    aesni::buildEncryptionSchedule,
    aesni::buildDecryptionSchedule,
    aesni::encryptBlock,
    aesni::decryptBlock,
    aesni::encryptBlocks,
    aesni::decryptBlocks,
    detail::encryptRun<aesni::encryptBlock, aesni::encryptBlocks>,
    detail::decryptRun<aesni::decryptBlock, aesni::decryptBlocks>,
};

}  // namespace
}  // namespace ElAES::aesni

namespace ElAES::detail {

const ImplementationTable* aesniImplementation() {
    return aesni::processorHasAesNi() ? &aesni::kAesNi : nullptr;
}

}  // namespace ElAES::detail

#else  // !ELAES_HAVE_AESNI

namespace ElAES::detail {

const ImplementationTable* aesniImplementation() { return nullptr; }

}  // namespace ElAES::detail

#endif  // ELAES_HAVE_AESNI
