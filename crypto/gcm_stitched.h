#pragma once
// Counter mode and the hash woven into one loop, written once over a vector
// width: XMM (one block a register), YMM (two) or ZMM (four). Each source of
// an instruction path defines GCM_TARGET (its target attribute) and a traits
// type V for its registers, then includes this header; everything here is in
// an unnamed namespace, so each source gets its own copy under its own
// target, and nothing of it runs unless that path's table was given out.
//
// A batch is N registers of counter blocks through the 14 rounds, and, in
// between the rounds, the hash of N registers of ciphertext: each block
// multiplied by its own power of the hash key (H^(N*lanes) for the first ..
// H^1 for the last), the products summed and reduced once. The AES units and
// the carry-less multiplier work side by side. Sealing hashes the batch before
// (its ciphertext is only there once the batch is done); opening hashes the
// batch's own input, read before any of it is overwritten.
//
// The counter is held with its bytes reversed, so that its count is the low
// 32-bit lane and a vector add steps it, wrapping within those 32 bits as GCM
// requires.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "crypto/gcm_internal.h"

#if !defined(GCM_TARGET)
#error "define GCM_TARGET before including gcm_stitched.h"
#endif

#if defined(__clang__)
#define GCM_UNROLL _Pragma("unroll")
#else
#define GCM_UNROLL _Pragma("GCC unroll 16")
#endif

namespace ElAES::gcm {
namespace {

GCM_TARGET ELAES_INLINE __m128i reverseMask128() {
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

GCM_TARGET ELAES_INLINE __m128i reverse128(__m128i x) { return _mm_shuffle_epi8(x, reverseMask128()); }

// The low 128 bits of a 256-bit product folded away, 64 at a time, with the
// constant 0xc2 << 56 (gcm_dispatch.h): what is left is the product times
// x^-128.
GCM_TARGET ELAES_INLINE __m128i reduce128(__m128i lo, __m128i mid, __m128i hi) {
    lo = _mm_xor_si128(lo, _mm_slli_si128(mid, 8));
    hi = _mm_xor_si128(hi, _mm_srli_si128(mid, 8));
    const __m128i fold = _mm_set_epi64x(static_cast<long long>(0xc200000000000000ull), 0);
    lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4e), _mm_clmulepi64_si128(lo, fold, 0x10));
    lo = _mm_xor_si128(_mm_shuffle_epi32(lo, 0x4e), _mm_clmulepi64_si128(lo, fold, 0x10));
    return _mm_xor_si128(hi, lo);
}

GCM_TARGET ELAES_INLINE __m128i multiply128(__m128i a, __m128i b) {
    const __m128i mid = _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x01), _mm_clmulepi64_si128(a, b, 0x10));
    return reduce128(_mm_clmulepi64_si128(a, b, 0x00), mid, _mm_clmulepi64_si128(a, b, 0x11));
}

GCM_TARGET ELAES_INLINE __m128i loadField(const FieldElement* x) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
}

GCM_TARGET ELAES_INLINE void storeField(FieldElement* x, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(x), v);
}

// Products not yet reduced, each register's lanes apart: the sums of the low,
// middle and high 64x64-bit products. Made with zeros() inside the target
// functions: a constructor of its own would be compiled for plain x86-64.
template <class V>
struct Sums {
    typename V::Reg lo, mid, hi;
};

template <class V>
GCM_TARGET ELAES_INLINE Sums<V> zeros() {
    return {V::zero(), V::zero(), V::zero()};
}

template <class V>
GCM_TARGET ELAES_INLINE void multiplyAdd(Sums<V>& sums, typename V::Reg x, typename V::Reg h) {
    sums.lo = V::xorOf(sums.lo, V::template clmul<0x00>(x, h));
    sums.hi = V::xorOf(sums.hi, V::template clmul<0x11>(x, h));
    sums.mid = V::xorOf(sums.mid, V::xorOf(V::template clmul<0x01>(x, h), V::template clmul<0x10>(x, h)));
}

template <class V>
GCM_TARGET ELAES_INLINE __m128i reduceSums(const Sums<V>& sums) {
    return reduce128(V::fold(sums.lo), V::fold(sums.mid), V::fold(sums.hi));
}

// Register j of a run of blocks to hash, ready to be multiplied: bytes
// reversed, and the hash so far added to the run's first block.
template <class V>
GCM_TARGET ELAES_INLINE typename V::Reg hashInput(const std::uint8_t* blocks, int j, __m128i hash) {
    const typename V::Reg x = V::reverse(V::load(blocks + 16 * V::kLanes * j));
    return j == 0 ? V::xorOf(x, V::lane0(hash)) : x;
}

// The hash over N registers of blocks; powers points at H^(N*lanes).
template <class V, int N>
GCM_TARGET ELAES_INLINE void hashBatch(const FieldElement* powers, const std::uint8_t* blocks, __m128i& hash) {
    Sums<V> sums = zeros<V>();
    GCM_UNROLL
    for (int j = 0; j < N; ++j) multiplyAdd(sums, hashInput<V>(blocks, j, hash), V::load(powers + V::kLanes * j));
    hash = reduceSums(sums);
}

// N registers of counter blocks through the cipher, xored into in and written
// to out; with `hashing`, the N registers of blocks at `hashed` hashed in
// between the rounds.
template <class V, int N, bool hashing>
GCM_TARGET ELAES_INLINE void batch(const Schedule& schedule, const FieldElement* powers, __m128i& counter,
                                   const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* hashed,
                                   __m128i& hash) {
    static_assert(N >= 1 && N <= 13, "one register hashed after each of the 13 middle rounds at most");
    using Reg = typename V::Reg;
    constexpr int L = V::kLanes;
    Reg s[N];
    const Reg first = V::roundKey(schedule, 0);
    GCM_UNROLL
    for (int j = 0; j < N; ++j) s[j] = V::xorOf(V::reverse(V::counters(counter, j * L)), first);
    counter = _mm_add_epi32(counter, _mm_set_epi32(0, 0, 0, N * L));
    Sums<V> sums = zeros<V>();
    GCM_UNROLL
    for (int r = 1; r < 14; ++r) {
        const Reg k = V::roundKey(schedule, static_cast<unsigned>(r));
        GCM_UNROLL
        for (int j = 0; j < N; ++j) s[j] = V::aesenc(s[j], k);
        if (hashing && r <= N) multiplyAdd(sums, hashInput<V>(hashed, r - 1, hash), V::load(powers + L * (r - 1)));
    }
    const Reg last = V::roundKey(schedule, 14);
    GCM_UNROLL
    for (int j = 0; j < N; ++j) {
        V::store(out + 16 * L * j, V::xorOf(V::aesenclast(s[j], last), V::load(in + 16 * L * j)));
    }
    if (hashing) hash = reduceSums(sums);
}

// The whole batches of a run: returns how many blocks they took (a multiple
// of N * lanes, 0 for a run shorter than one batch). counter and hash come
// back as the next block needs them.
template <class V, int N, bool sealing>
GCM_TARGET ELAES_INLINE std::size_t batches(const KeyMaterial& material, Block& counterBlock, const std::uint8_t* in,
                                            std::uint8_t* out, std::size_t blocks, FieldElement& hashState) {
    constexpr std::size_t kBatch = static_cast<std::size_t>(N) * V::kLanes;
    static_assert(kBatch <= kMaxPowers, "a power of the hash key for every block in flight");
    if (blocks < kBatch) return 0;
    const FieldElement* powers = material.power + (kMaxPowers - kBatch);
    __m128i counter = reverse128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(counterBlock.data())));
    __m128i hash = loadField(&hashState);
    std::size_t done = 0;
    if (sealing) {
        batch<V, N, false>(material.schedule, powers, counter, in, out, nullptr, hash);
        for (done = kBatch; blocks - done >= kBatch; done += kBatch) {
            batch<V, N, true>(material.schedule, powers, counter, in + 16 * done, out + 16 * done,
                              out + 16 * (done - kBatch), hash);
        }
        hashBatch<V, N>(powers, out + 16 * (done - kBatch), hash);
    } else {
        for (; blocks - done >= kBatch; done += kBatch) {
            batch<V, N, true>(material.schedule, powers, counter, in + 16 * done, out + 16 * done, in + 16 * done,
                              hash);
        }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(counterBlock.data()), reverse128(counter));
    storeField(&hashState, hash);
    return done;
}

// GcmTable::keepUnder a register at a time.
template <class V>
GCM_TARGET ELAES_INLINE void keepUnder(std::uint8_t* bytes, std::size_t size, std::uint64_t mask) {
    const typename V::Reg m = V::broadcast64(mask);
    std::size_t i = 0;
    for (; i + 16 * V::kLanes <= size; i += 16 * V::kLanes) V::store(bytes + i, V::andOf(V::load(bytes + i), m));
    for (; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] & mask);
}

}  // namespace
}  // namespace ElAES::gcm
