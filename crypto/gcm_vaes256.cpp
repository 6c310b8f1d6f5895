// GCM on the VAES path with YMM registers: counter mode with VAES and the hash
// with VPCLMULQDQ, two blocks a register, the hash of a batch woven in between
// the rounds of the next (gcm_stitched.h). Blocks that do not fill a batch go
// to the PCLMULQDQ path, as do the powers of the hash key. Runs only once
// vaes256Gcm() has seen VAES and VPCLMULQDQ in CPUID and the YMM state saved
// by the operating system.
#include "crypto/gcm_internal.h"

#if ELAES_HAVE_AESNI

#include "crypto/cpu_features.h"

#define GCM_TARGET __attribute__((target("aes,sse4.1,pclmul,avx2,vaes,vpclmulqdq")))
#include "crypto/gcm_stitched.h"

namespace ElAES::gcm {
namespace {

struct Ymm {
    using Reg = __m256i;
    static constexpr int kLanes = 2;

    GCM_TARGET ELAES_INLINE static Reg zero() { return _mm256_setzero_si256(); }
    GCM_TARGET ELAES_INLINE static Reg load(const void* p) { return _mm256_loadu_si256(static_cast<const Reg*>(p)); }
    GCM_TARGET ELAES_INLINE static void store(void* p, Reg x) { _mm256_storeu_si256(static_cast<Reg*>(p), x); }
    GCM_TARGET ELAES_INLINE static Reg xorOf(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    GCM_TARGET ELAES_INLINE static Reg andOf(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    GCM_TARGET ELAES_INLINE static Reg broadcast64(std::uint64_t x) {
        return _mm256_set1_epi64x(static_cast<long long>(x));
    }
    GCM_TARGET ELAES_INLINE static Reg roundKey(const Schedule& schedule, unsigned r) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(schedule.w + 4 * r)));
    }
    GCM_TARGET ELAES_INLINE static Reg aesenc(Reg s, Reg k) { return _mm256_aesenc_epi128(s, k); }
    GCM_TARGET ELAES_INLINE static Reg aesenclast(Reg s, Reg k) { return _mm256_aesenclast_epi128(s, k); }
    template <int selector>
    GCM_TARGET ELAES_INLINE static Reg clmul(Reg a, Reg b) {
        return _mm256_clmulepi64_epi128(a, b, selector);
    }
    GCM_TARGET ELAES_INLINE static Reg reverse(Reg x) {
        return _mm256_shuffle_epi8(x, _mm256_broadcastsi128_si256(reverseMask128()));
    }
    GCM_TARGET ELAES_INLINE static Reg counters(__m128i counter, int first) {
        return _mm256_add_epi32(_mm256_broadcastsi128_si256(counter),
                                _mm256_set_epi32(0, 0, 0, first + 1, 0, 0, 0, first));
    }
    GCM_TARGET ELAES_INLINE static Reg lane0(__m128i x) { return _mm256_zextsi128_si256(x); }
    GCM_TARGET ELAES_INLINE static __m128i fold(Reg x) {
        return _mm_xor_si128(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
    }
};

constexpr int kInFlight = 8;  // registers: sixteen blocks
constexpr std::size_t kPowers = kInFlight * Ymm::kLanes;

template <bool sealing>
GCM_TARGET void cryptBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                            std::size_t blocks, FieldElement& hash) {
    const std::size_t done = batches<Ymm, kInFlight, sealing>(material, counter, in, out, blocks, hash);
    // Nothing of the state stays behind in the upper halves.
    _mm256_zeroupper();
    (sealing ? clmul::sealBlocks : clmul::openBlocks)(material, counter, in + 16 * done, out + 16 * done,
                                                      blocks - done, hash);
}

void extendOwnPowers(KeyMaterial& material) { clmul::extendPowers(material, kPowers); }

GCM_TARGET void keepUnderYmm(std::uint8_t* bytes, std::size_t size, std::uint64_t mask) {
    keepUnder<Ymm>(bytes, size, mask);
    _mm256_zeroupper();
}

constexpr GcmTable kVaes256 = {
    Implementation::Vaes256,
    implementationName(Implementation::Vaes256),
    aesni::buildEncryptionSchedule,
    aesni::encryptBlock,
    extendOwnPowers,
    clmul::hashBlocks,
    cryptBlocks<true>,
    cryptBlocks<false>,
    keepUnderYmm,
};

}  // namespace

const GcmTable* vaes256Gcm() { return cpu::features().vclmul256 ? &kVaes256 : nullptr; }

}  // namespace ElAES::gcm

#else  // !ELAES_HAVE_AESNI

namespace ElAES::gcm {

const GcmTable* vaes256Gcm() { return nullptr; }

}  // namespace ElAES::gcm

#endif  // ELAES_HAVE_AESNI
