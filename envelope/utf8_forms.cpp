// The UTF-8 forms of a single-byte code page's text, which the sealed
// envelope seals: each byte's form from the code page's tables.
#include <cstdint>
#include <cstring>

#include "envelope/byte_tables.h"
#include "envelope/text_paths.h"

#if ENVELOPE_HAVE_AVX2
#include <immintrin.h>
#endif

namespace envelope::detail {

namespace {

#if ENVELOPE_HAVE_AVX2
#define UTF8_FORMS_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt")))

// A byte of each of 64 bytes' entries of a 256-byte plane: two two-table
// permutes, one for each half of the byte values, chosen by the top bit.
UTF8_FORMS_AVX512 inline __m512i lookUp(const unsigned char* plane, __m512i bytes) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(plane), bytes, _mm512_loadu_si512(plane + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_loadu_si512(plane + 128), bytes, _mm512_loadu_si512(plane + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high);
}

// 64 bytes at a time, while 64 remain: the three bytes and the length of
// every form are looked up, then each quarter's forms are laid out four bytes
// a form and closed up by their lengths. Stores 64 bytes for every quarter,
// of which the forms take what they take. Returns the bytes done; `out`
// moves past what was written.
UTF8_FORMS_AVX512 std::size_t appendAvx512(const unsigned char* in, std::size_t size, char*& out,
                                            const ByteTables& tables) {
    // For quarter 0: a form's first two bytes from the first two planes, then
    // its third from the third plane, then its length in all four places.
    alignas(64) unsigned char firstTwo[64], third[64], lengths[64], position[64];
    for (int i = 0; i < 16; ++i) {
        for (int k = 0; k < 4; ++k) {
            firstTwo[4 * i + k] = static_cast<unsigned char>(k == 1 ? 64 + i : i);
            third[4 * i + k] = static_cast<unsigned char>(k == 2 ? 64 + i : 4 * i + k);
            lengths[4 * i + k] = static_cast<unsigned char>(i);
            position[4 * i + k] = static_cast<unsigned char>(k);
        }
    }
    const __m512i firstTwo0 = _mm512_load_si512(firstTwo), third0 = _mm512_load_si512(third);
    const __m512i lengths0 = _mm512_load_si512(lengths), positions = _mm512_load_si512(position);
    constexpr __mmask64 thirdBytes = 0x4444444444444444ull;
    std::size_t done = 0;
    for (; done + 64 <= size; done += 64) {
        const __m512i bytes = _mm512_loadu_si512(in + done);
        const __m512i form0 = lookUp(tables.utf8Planes[0], bytes), form1 = lookUp(tables.utf8Planes[1], bytes);
        const __m512i form2 = lookUp(tables.utf8Planes[2], bytes), length = lookUp(tables.utf8Planes[3], bytes);
        for (int quarter = 0; quarter < 4; ++quarter) {
            const __m512i shift = _mm512_set1_epi8(static_cast<char>(16 * quarter));
            const __m512i two = _mm512_permutex2var_epi8(form0, _mm512_add_epi8(firstTwo0, shift), form1);
            const __m512i three =
                _mm512_permutex2var_epi8(two, _mm512_mask_add_epi8(third0, thirdBytes, third0, shift), form2);
            const __m512i own = _mm512_maskz_permutexvar_epi8(~0ull, _mm512_add_epi8(lengths0, shift), length);
            const __mmask64 keep = _mm512_cmplt_epu8_mask(positions, own);
            _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, three));
            out += _mm_popcnt_u64(keep);
        }
    }
    return done;
}
#endif

}  // namespace

void appendUtf8Forms(std::string& out, std::string_view bytes, const ByteTables& tables) {
#if ENVELOPE_HAVE_AVX2
    if (textPath().kind == Vectors::Avx512Vbmi && bytes.size() >= 64) {
        const std::size_t start = out.size();
        // Three bytes a form at most, and the last store's 64.
        out.resize(start + 3 * bytes.size() + 64);
        char* end = &out[start];
        const std::size_t done =
            appendAvx512(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), end, tables);
        out.resize(static_cast<std::size_t>(end - out.data()));
        bytes.remove_prefix(done);
    }
#endif
    appendDigits(out, bytes, tables.utf8);
}

}  // namespace envelope::detail
