// GCM on the AES-NI path: counter mode with AESENC, the hash with PCLMULQDQ,
// eight blocks in flight and the hash of eight woven in between their rounds
// (gcm_stitched.h). No table is read and no branch or address depends on the
// key, the hash key or the data.
//
// The VAES paths leave the blocks that do not fill one of their batches to
// this one, and take their powers of the hash key from it. Only the functions
// here carry the target attribute, and they run only once clmulGcm() has seen
// AES-NI and PCLMULQDQ in CPUID.
#include "crypto/gcm_internal.h"

#if ELAES_HAVE_AESNI

#include "crypto/cpu_features.h"

#define GCM_TARGET __attribute__((target("aes,sse4.1,pclmul")))
#include "crypto/gcm_stitched.h"

namespace ElAES::gcm {
namespace {

// XMM registers: one block each.
struct Xmm {
    using Reg = __m128i;
    static constexpr int kLanes = 1;

    GCM_TARGET ELAES_INLINE static Reg zero() { return _mm_setzero_si128(); }
    GCM_TARGET ELAES_INLINE static Reg load(const void* p) { return _mm_loadu_si128(static_cast<const Reg*>(p)); }
    GCM_TARGET ELAES_INLINE static void store(void* p, Reg x) { _mm_storeu_si128(static_cast<Reg*>(p), x); }
    GCM_TARGET ELAES_INLINE static Reg xorOf(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    GCM_TARGET ELAES_INLINE static Reg andOf(Reg a, Reg b) { return _mm_and_si128(a, b); }
    GCM_TARGET ELAES_INLINE static Reg broadcast64(std::uint64_t x) {
        return _mm_set1_epi64x(static_cast<long long>(x));
    }
    GCM_TARGET ELAES_INLINE static Reg roundKey(const Schedule& schedule, unsigned r) {
        return load(schedule.w + 4 * r);
    }
    GCM_TARGET ELAES_INLINE static Reg aesenc(Reg s, Reg k) { return _mm_aesenc_si128(s, k); }
    GCM_TARGET ELAES_INLINE static Reg aesenclast(Reg s, Reg k) { return _mm_aesenclast_si128(s, k); }
    template <int selector>
    GCM_TARGET ELAES_INLINE static Reg clmul(Reg a, Reg b) {
        return _mm_clmulepi64_si128(a, b, selector);
    }
    GCM_TARGET ELAES_INLINE static Reg reverse(Reg x) { return reverse128(x); }
    GCM_TARGET ELAES_INLINE static Reg counters(__m128i counter, int first) {
        return _mm_add_epi32(counter, _mm_set_epi32(0, 0, 0, first));
    }
    GCM_TARGET ELAES_INLINE static Reg lane0(__m128i x) { return x; }
    GCM_TARGET ELAES_INLINE static __m128i fold(Reg x) { return x; }
};

constexpr int kInFlight = 8;
constexpr std::size_t kPowers = kInFlight;

// The hash over 1 to kMaxPowers blocks, each with its power, reduced once.
GCM_TARGET void hashRun(const KeyMaterial& material, const std::uint8_t* in, std::size_t blocks, __m128i& hash) {
    const FieldElement* powers = material.power + (kMaxPowers - blocks);
    Sums<Xmm> sums = zeros<Xmm>();
    multiplyAdd(sums, hashInput<Xmm>(in, 0, hash), loadField(powers));
    for (std::size_t i = 1; i < blocks; ++i) {
        multiplyAdd(sums, Xmm::reverse(Xmm::load(in + 16 * i)), loadField(powers + i));
    }
    hash = reduceSums(sums);
}

// Counter mode alone over fewer than eight blocks, still side by side.
GCM_TARGET void counterMode(const Schedule& schedule, __m128i& counter, const std::uint8_t* in, std::uint8_t* out,
                            std::size_t blocks) {
    __m128i unused = _mm_setzero_si128();
    if (blocks & 4) {
        batch<Xmm, 4, false>(schedule, nullptr, counter, in, out, nullptr, unused);
        in += 64;
        out += 64;
    }
    if (blocks & 2) {
        batch<Xmm, 2, false>(schedule, nullptr, counter, in, out, nullptr, unused);
        in += 32;
        out += 32;
    }
    if (blocks & 1) batch<Xmm, 1, false>(schedule, nullptr, counter, in, out, nullptr, unused);
}

// The blocks after the whole batches: sealing hashes what it wrote, opening
// what it is about to overwrite.
template <bool sealing>
GCM_TARGET void rest(const KeyMaterial& material, Block& counterBlock, const std::uint8_t* in, std::uint8_t* out,
                     std::size_t blocks, FieldElement& hashState) {
    if (blocks == 0) return;
    __m128i counter = reverse128(Xmm::load(counterBlock.data()));
    __m128i hash = loadField(&hashState);
    if (!sealing) hashRun(material, in, blocks, hash);
    counterMode(material.schedule, counter, in, out, blocks);
    if (sealing) hashRun(material, out, blocks, hash);
    Xmm::store(counterBlock.data(), reverse128(counter));
    storeField(&hashState, hash);
}

template <bool sealing>
GCM_TARGET void cryptBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                            std::size_t blocks, FieldElement& hash) {
    const std::size_t done = batches<Xmm, kInFlight, sealing>(material, counter, in, out, blocks, hash);
    rest<sealing>(material, counter, in + 16 * done, out + 16 * done, blocks - done, hash);
}

void extendOwnPowers(KeyMaterial& material) { clmul::extendPowers(material, kPowers); }

GCM_TARGET void keepUnderXmm(std::uint8_t* bytes, std::size_t size, std::uint64_t mask) {
    keepUnder<Xmm>(bytes, size, mask);
}

constexpr GcmTable kClmul = {
    Implementation::AesNi,
    implementationName(Implementation::AesNi),
    aesni::buildEncryptionSchedule,
    aesni::encryptBlock,
    extendOwnPowers,
    clmul::hashBlocks,
    cryptBlocks<true>,
    cryptBlocks<false>,
    keepUnderXmm,
};

}  // namespace

namespace clmul {

// H^k = H^(k/2) * H^(k - k/2): each power waits on two of about half its
// exponent, so the multiplications overlap.
GCM_TARGET void extendPowers(KeyMaterial& material, std::size_t count) {
    FieldElement* end = material.power + kMaxPowers;  // end[-k] is H^k
    for (std::size_t k = 2; k <= count; ++k) {
        storeField(end - k, multiply128(loadField(end - k / 2), loadField(end - (k - k / 2))));
    }
}

GCM_TARGET void hashBlocks(const KeyMaterial& material, const std::uint8_t* in, std::size_t blocks,
                           FieldElement& hashState) {
    __m128i hash = loadField(&hashState);
    for (; blocks > 0;) {
        const std::size_t n = blocks < kPowers ? blocks : kPowers;
        hashRun(material, in, n, hash);
        in += 16 * n;
        blocks -= n;
    }
    storeField(&hashState, hash);
}

void sealBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, FieldElement& hash) {
    cryptBlocks<true>(material, counter, in, out, blocks, hash);
}

void openBlocks(const KeyMaterial& material, Block& counter, const std::uint8_t* in, std::uint8_t* out,
                std::size_t blocks, FieldElement& hash) {
    cryptBlocks<false>(material, counter, in, out, blocks, hash);
}

}  // namespace clmul

const GcmTable* clmulGcm() {
    const cpu::Features& f = cpu::features();
    return f.aesni && f.clmul ? &kClmul : nullptr;
}

}  // namespace ElAES::gcm

#else  // !ELAES_HAVE_AESNI

namespace ElAES::gcm {

const GcmTable* clmulGcm() { return nullptr; }

}  // namespace ElAES::gcm

#endif  // ELAES_HAVE_AESNI
