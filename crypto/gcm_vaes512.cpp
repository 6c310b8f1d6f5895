// GCM on the VAES path with ZMM registers: counter mode with VAES and the hash
// with VPCLMULQDQ, four blocks a register, the hash of a batch woven in between
// the rounds of the next (gcm_stitched.h). Blocks that do not fill a batch go
// to the PCLMULQDQ path, as do the powers of the hash key. Runs only once
// vaes512Gcm() has seen VAES, VPCLMULQDQ and AVX-512 (F, BW) in CPUID and the ZMM state saved
// by the operating system.
#include "crypto/gcm_internal.h"

#if ELAES_HAVE_AESNI

#include "crypto/cpu_features.h"

#define GCM_TARGET __attribute__((target("aes,sse4.1,pclmul,avx2,vaes,vpclmulqdq,avx512f,avx512bw")))
#include "crypto/gcm_stitched.h"

namespace ElAES::gcm {
namespace {

struct Zmm {
    using Reg = __m512i;
    static constexpr int kLanes = 4;

    GCM_TARGET ELAES_INLINE static Reg zero() { return _mm512_setzero_si512(); }
    GCM_TARGET ELAES_INLINE static Reg load(const void* p) { return _mm512_loadu_si512(p); }
    GCM_TARGET ELAES_INLINE static void store(void* p, Reg x) { _mm512_storeu_si512(p, x); }
    GCM_TARGET ELAES_INLINE static Reg xorOf(Reg a, Reg b) { return _mm512_xor_si512(a, b); }
    GCM_TARGET ELAES_INLINE static Reg andOf(Reg a, Reg b) { return _mm512_and_si512(a, b); }
    GCM_TARGET ELAES_INLINE static Reg broadcast64(std::uint64_t x) {
        return _mm512_set1_epi64(static_cast<long long>(x));
    }
    // The zero-masking broadcast: the plain one starts from an undefined
    // register, which GCC 12 warns of.
    GCM_TARGET ELAES_INLINE static Reg broadcast(__m128i x) {
        return _mm512_maskz_broadcast_i32x4(static_cast<__mmask16>(0xffff), x);
    }
    GCM_TARGET ELAES_INLINE static Reg roundKey(const Schedule& schedule, unsigned r) {
        return broadcast(_mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule.w + 4 * r)));
    }
    GCM_TARGET ELAES_INLINE static Reg aesenc(Reg s, Reg k) { return _mm512_aesenc_epi128(s, k); }
    GCM_TARGET ELAES_INLINE static Reg aesenclast(Reg s, Reg k) { return _mm512_aesenclast_epi128(s, k); }
    template <int selector>
    GCM_TARGET ELAES_INLINE static Reg clmul(Reg a, Reg b) {
        return _mm512_clmulepi64_epi128(a, b, selector);
    }
    GCM_TARGET ELAES_INLINE static Reg reverse(Reg x) { return _mm512_shuffle_epi8(x, broadcast(reverseMask128())); }
    GCM_TARGET ELAES_INLINE static Reg counters(__m128i counter, int first) {
        return _mm512_add_epi32(broadcast(counter), _mm512_set_epi32(0, 0, 0, first + 3, 0, 0, 0, first + 2, 0, 0, 0,
                                                                     first + 1, 0, 0, 0, first));
    }
    GCM_TARGET ELAES_INLINE static Reg lane0(__m128i x) { return _mm512_zextsi128_si512(x); }
    GCM_TARGET ELAES_INLINE static __m128i fold(Reg x) {
        // The zero-masking extracts, for the same reason (the cast is one).
        const __mmask8 all = 0xff;
        const __m256i half =
            _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(all, x, 0), _mm512_maskz_extracti64x4_epi64(all, x, 1));
        return _mm_xor_si128(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
    }
};

constexpr int kInFlight = 8;  // registers: thirty-two blocks
constexpr std::size_t kPowers = kInFlight * Zmm::kLanes;

template <bool sealing>
GCM_TARGET void cryptBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                            std::size_t blocks, FieldElement& hash) {
    const std::size_t done = batches<Zmm, kInFlight, sealing>(material, counter, in, out, blocks, hash);
    // Nothing of the state stays behind in the upper halves.
    _mm256_zeroupper();
    (sealing ? clmul::sealBlocks : clmul::openBlocks)(material, counter, in + 16 * done, out + 16 * done,
                                                      blocks - done, hash);
}

void extendOwnPowers(KeyMaterial& material) { clmul::extendPowers(material, kPowers); }

GCM_TARGET void keepUnderZmm(std::uint8_t* bytes, std::size_t size, std::uint64_t mask) {
    keepUnder<Zmm>(bytes, size, mask);
    _mm256_zeroupper();
}

constexpr GcmTable kVaes512 = {
    Implementation::Vaes512,
    implementationName(Implementation::Vaes512),
    aesni::buildEncryptionSchedule,
    aesni::encryptBlock,
    extendOwnPowers,
    clmul::hashBlocks,
    cryptBlocks<true>,
    cryptBlocks<false>,
    keepUnderZmm,
};

}  // namespace

const GcmTable* vaes512Gcm() { return cpu::features().vclmul512 ? &kVaes512 : nullptr; }

}  // namespace ElAES::gcm

#else  // !ELAES_HAVE_AESNI

namespace ElAES::gcm {

const GcmTable* vaes512Gcm() { return nullptr; }

}  // namespace ElAES::gcm

#endif  // ELAES_HAVE_AESNI
