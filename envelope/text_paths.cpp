// The choice of the text steps' path, made once from CPUID (and by tests that
// hold the paths side by side), and the SSE2 path, which every x86-64
// processor runs: hex digits sixteen at a time, UTF-8 forms one at a time by
// the tables.
#include "envelope/text_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace envelope::detail {

namespace {

#if defined(__SSE2__)
// Sixteen hex digits (either case) at in to eight bytes at out; false, with
// nothing written, when any of the sixteen is not a digit. SSE2 is part of
// every x86-64 processor.
inline bool digitsToBytes16(const unsigned char* in, unsigned char* out) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    // x < limit for unsigned bytes, through the signed comparison.
    const auto below = [&](__m128i x, int limit) {
        return _mm_cmplt_epi8(_mm_xor_si128(x, bias), _mm_set1_epi8(static_cast<char>(0x80 + limit)));
    };
    const __m128i digit = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isDigit = below(digit, 10);
    const __m128i isLetter = below(letter, 6);
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
    const __m128i value = _mm_or_si128(_mm_and_si128(isDigit, digit),
                                       _mm_and_si128(isLetter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
    // Each 16-bit lane holds a pair: the high digit in its low byte.
    const __m128i high = _mm_and_si128(_mm_slli_epi16(value, 4), _mm_set1_epi16(0x00F0));
    const __m128i low = _mm_srli_epi16(value, 8);
    const __m128i bytes = _mm_or_si128(high, low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bytes, bytes));
    return true;
}
#endif

}  // namespace

std::size_t bytesOfDigitsSse2(const unsigned char* in, unsigned char* out, std::size_t pairs) {
    std::size_t done = 0;
#if defined(__SSE2__)
    while (done + 8 <= pairs && digitsToBytes16(in + 2 * done, out + done)) done += 8;
#else
    (void)in;
    (void)out;
    (void)pairs;
#endif
    return done;
}

namespace {

constexpr TextPath kSse2{Vectors::Sse2, "sse2", bytesOfDigitsSse2, narrowInRuns};

constexpr Vectors kWidestFirst[] = {Vectors::Avx512Vbmi, Vectors::Avx2, Vectors::Sse2};

// Null until the first step chooses, or a test forces a path.
const TextPath* chosenPath = nullptr;

const TextPath& choose() {
    for (const Vectors kind : kWidestFirst) {
        if (const TextPath* path = textPathOf(kind)) return *(chosenPath = path);
    }
    return *(chosenPath = &kSse2);
}

}  // namespace

const TextPath* textPathOf(Vectors kind) {
    switch (kind) {
        case Vectors::Sse2:
            return &kSse2;
        case Vectors::Avx2:
            return avx2Path();
        case Vectors::Avx512Vbmi:
            return avx512Path();
    }
    return nullptr;
}

const TextPath& textPath() { return chosenPath ? *chosenPath : choose(); }

std::vector<const TextPath*> availableTextPaths() {
    std::vector<const TextPath*> paths;
    for (const Vectors kind : {Vectors::Sse2, Vectors::Avx2, Vectors::Avx512Vbmi}) {
        if (const TextPath* path = textPathOf(kind)) paths.push_back(path);
    }
    return paths;
}

void forceTextPath(const TextPath* path) { chosenPath = path; }

}  // namespace envelope::detail
