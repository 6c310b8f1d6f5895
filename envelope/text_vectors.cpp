// The text steps on wide vectors: AVX2, which takes hex digits and UTF-8
// forms 32 lanes at a time, and AVX-512 with VBMI2, which takes UTF-8 forms 64
// lanes at a time. Only the functions below carry target attributes, and none
// runs unless textPathOf() has seen in CPUID and XCR0 that the processor and
// the operating system run them (crypto/cpu_features.h): the rest of the
// program stays plain x86-64 code.
#include "envelope/text_paths.h"

#if ENVELOPE_HAVE_AVX2

#include <immintrin.h>

#include "crypto/cpu_features.h"

namespace envelope::detail {

namespace {

// ---- Hex digits ----------------------------------------------------------------

// Hex digits to bytes as bytesOfDigitsSse2 takes them, on 32 digits, sixteen
// bytes out, while all are digits: the pairs done.
__attribute__((target("avx2"))) std::size_t digitsToBytesAvx2(const unsigned char* in, unsigned char* out,
                                                               std::size_t pairs) {
    std::size_t i = 0;
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    for (; i + 16 <= pairs; i += 16) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i));
        const __m256i digit = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
        const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(c, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
        const __m256i isDigit =
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 10)), _mm256_xor_si256(digit, bias));
        const __m256i isLetter =
            _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 6)), _mm256_xor_si256(letter, bias));
        if (_mm256_movemask_epi8(_mm256_or_si256(isDigit, isLetter)) != -1) break;
        const __m256i value = _mm256_or_si256(
            _mm256_and_si256(isDigit, digit),
            _mm256_and_si256(isLetter, _mm256_add_epi8(letter, _mm256_set1_epi8(10))));
        const __m256i high = _mm256_and_si256(_mm256_slli_epi16(value, 4), _mm256_set1_epi16(0x00F0));
        const __m256i bytes = _mm256_or_si256(high, _mm256_srli_epi16(value, 8));
        // Packing works within each half: the two halves' eight bytes sit in
        // quadwords 0 and 2.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(bytes, bytes), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
    }
    _mm256_zeroupper();
    return i;
}

std::size_t bytesOfDigitsAvx2(const unsigned char* in, unsigned char* out, std::size_t pairs) {
    const std::size_t done = digitsToBytesAvx2(in, out, pairs);
    return done + bytesOfDigitsSse2(in + 2 * done, out + done, pairs - done);
}

// ---- UTF-8 forms ---------------------------------------------------------------

// For each group of eight lanes, by the mask of lanes to keep: their indices,
// in order, for PSHUFB.
struct Compaction {
    std::uint8_t order[256][8];
    constexpr Compaction() : order() {
        for (unsigned mask = 0; mask < 256; ++mask) {
            unsigned k = 0;
            for (unsigned lane = 0; lane < 8; ++lane) {
                if (mask & (1u << lane)) order[mask][k++] = static_cast<std::uint8_t>(lane);
            }
        }
    }
};
constexpr Compaction kCompaction;

// The vector decoder: 32 bytes a round, each lane decoded as if a sequence
// began there, then only the lanes where one does begin kept. A lane whose
// byte is no continuation byte begins a sequence: a one-byte form narrows to
// itself, a longer one is looked up in the pages (ByteTables::pages) by its
// lead (and middle) byte and its last byte. Then the continuation bytes must be exactly those
// that the lead bytes announce, and every kept lane a form of the tables: the
// same texts as decodeInRuns accept, with the same bytes out, and no branch
// on the data but the round's one test of it all. Sequences that begin in a
// round may end up to two bytes into the next, which then begins after them.
#define ENVELOPE_AVX2 __attribute__((target("avx2,popcnt")))

ENVELOPE_AVX2 inline std::uint32_t mask(__m256i v) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(v)); }

ENVELOPE_AVX2 inline std::uint32_t isContinuation(__m256i v) {
    return mask(_mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xC0))),
                                  _mm256_set1_epi8(static_cast<char>(0x80))));
}

// Sixteen table entries, by each lane's index (0 where bit 7 is set).
ENVELOPE_AVX2 inline __m256i lookup(const unsigned char (&table)[16], __m256i index) {
    return _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table))),
                               index);
}

ENVELOPE_AVX2 inline __m256i partIndex(__m256i low, __m256i part, char j) {
    return _mm256_or_si256(low, _mm256_andnot_si256(_mm256_cmpeq_epi8(part, _mm256_set1_epi8(j)),
                                                    _mm256_set1_epi8(static_cast<char>(0x80))));
}

// The rounds from p while 34 bytes are left; p and o moved past them. Every
// lane reads its byte and the two after it. The output is stored eight bytes
// at a time, up to seven beyond what it keeps; as no form is shorter than a
// byte, o never passes p, so every store stays within the input's length.
ENVELOPE_AVX2 void decodeLanes32(const unsigned char*& p, const unsigned char* end, unsigned char*& o,
                                 const ByteTables& tables, std::uint64_t& bad) {
    const ByteTables::FormPage* const pages = tables.pages.data();
    const std::size_t pageCount = tables.pages.size();
    const __m256i top2 = _mm256_set1_epi8(static_cast<char>(0xC0));
    while (end - p >= 34 && !bad) {
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
        const __m256i three = _mm256_cmpeq_epi8(_mm256_max_epu8(b0, _mm256_set1_epi8(static_cast<char>(0xE0))), b0);
        const __m256i last = _mm256_blendv_epi8(b1, b2, three);
        const __m256i middle = _mm256_and_si256(three, b1);
        // The index into table j: the last byte's low four bits where its
        // bits 4-5 are j, else bit 7 set, for which PSHUFB gives 0.
        const __m256i part = _mm256_and_si256(last, _mm256_set1_epi8(0x30));
        const __m256i low = _mm256_and_si256(last, _mm256_set1_epi8(0x0F));
        const __m256i index[4] = {partIndex(low, part, 0x00), partIndex(low, part, 0x10), partIndex(low, part, 0x20),
                                   partIndex(low, part, 0x30)};
        __m256i found = _mm256_setzero_si256();
        for (std::size_t k = 0; k < pageCount; ++k) {
            const ByteTables::FormPage& page = pages[k];
            // All four tables, whether they hold forms or not: a test of
            // each would cost more than the lookup.
            const __m256i bytes = _mm256_or_si256(
                _mm256_or_si256(lookup(page.table[0], index[0]), lookup(page.table[1], index[1])),
                _mm256_or_si256(lookup(page.table[2], index[2]), lookup(page.table[3], index[3])));
            const __m256i match =
                _mm256_and_si256(_mm256_cmpeq_epi8(b0, _mm256_set1_epi8(static_cast<char>(page.lead))),
                                 _mm256_cmpeq_epi8(middle, _mm256_set1_epi8(static_cast<char>(page.middle))));
            found = _mm256_or_si256(found, _mm256_and_si256(match, bytes));
        }
        const __m256i one = _mm256_cmpgt_epi8(b0, _mm256_set1_epi8(-1));  // below 0x80
        const __m256i bytes = _mm256_blendv_epi8(found, b0, one);
        const __m256i none = _mm256_cmpeq_epi8(bytes, _mm256_setzero_si256());
        const std::uint32_t follows = isContinuation(b0);
        const std::uint32_t starts = ~follows;
        // Lanes 32 and 33 are the last lanes of b1 and b2.
        const std::uint64_t followsWide = follows | std::uint64_t{isContinuation(b1) >> 31} << 32 |
                                          std::uint64_t{isContinuation(b2) >> 31} << 33;
        const std::uint32_t longer = mask(_mm256_cmpeq_epi8(_mm256_max_epu8(b0, top2), b0));
        const std::uint64_t announced = std::uint64_t{longer} << 1 | std::uint64_t{mask(three)} << 2;
        // Kept lanes that are no form (a zero byte out is only ever a one-byte
        // form); continuation bytes not announced, or announced and missing.
        bad |= (starts & mask(none) & ~mask(one)) | ((announced ^ followsWide) & 0xFFFFFFFFu) |
               (announced >> 32 & ~followsWide >> 32);

        // The kept lanes' bytes, eight lanes at a time.
        unsigned char lanes[32];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), bytes);
        for (int g = 0; g < 4; ++g) {
            const unsigned keep = starts >> (8 * g) & 0xFF;
            const __m128i group = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(lanes + 8 * g));
            const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.order[keep]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(group, order));
            o += _mm_popcnt_u32(keep);
        }
        p += 32 + _mm_popcnt_u64(announced >> 32);
    }
    _mm256_zeroupper();
}

bool decodeAvx2(std::string_view in, const ByteTables& tables, std::string& out) {
    out.resize(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const unsigned char* const end = p + in.size();
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    std::uint64_t bad = 0;
    decodeLanes32(p, end, o, tables, bad);
    return finishForms(p, end, o, tables, bad, out);
}

#define ENVELOPE_AVX512 __attribute__((target("avx2,popcnt,avx512f,avx512bw,avx512vbmi,avx512vbmi2")))

// The same on 64 lanes: a page's four tables are one 64-byte table for
// VPERMB, which takes the last byte's low six bits as they are, and the lanes
// where forms begin are closed up by VPCOMPRESSB into a register and stored
// whole (compressing into memory is microcoded, and slow, on some
// processors): up to 63 bytes beyond what it keeps, within the input's length
// as in decodeLanes32, the round needing 66 bytes.
ENVELOPE_AVX512 void decodeLanes64(const unsigned char*& p, const unsigned char* end, unsigned char*& o,
                                   const ByteTables& tables, std::uint64_t& bad) {
    const ByteTables::FormPage* const pages = tables.pages.data();
    const std::size_t pageCount = tables.pages.size();
    const __m512i top2 = _mm512_set1_epi8(static_cast<char>(0xC0));
    const __m512i continuation = _mm512_set1_epi8(static_cast<char>(0x80));
    while (end - p >= 66 && !bad) {
        const __m512i b0 = _mm512_loadu_si512(p);
        const __m512i b1 = _mm512_loadu_si512(p + 1);
        const __m512i b2 = _mm512_loadu_si512(p + 2);
        const __mmask64 three = _mm512_cmpge_epu8_mask(b0, _mm512_set1_epi8(static_cast<char>(0xE0)));
        const __m512i last = _mm512_mask_blend_epi8(three, b1, b2);
        const __m512i middle = _mm512_maskz_mov_epi8(three, b1);
        __m512i found = _mm512_setzero_si512();
        for (std::size_t k = 0; k < pageCount; ++k) {
            const ByteTables::FormPage& page = pages[k];
            const __mmask64 match =
                _mm512_cmpeq_epi8_mask(b0, _mm512_set1_epi8(static_cast<char>(page.lead))) &
                _mm512_cmpeq_epi8_mask(middle, _mm512_set1_epi8(static_cast<char>(page.middle)));
            found = _mm512_mask_permutexvar_epi8(found, match, last, _mm512_loadu_si512(page.table));
        }
        const __mmask64 one = _mm512_cmplt_epu8_mask(b0, continuation);
        const __m512i bytes = _mm512_mask_mov_epi8(found, one, b0);
        const __mmask64 none = _mm512_testn_epi8_mask(bytes, bytes);
        const auto follows = static_cast<std::uint64_t>(
            _mm512_cmpeq_epi8_mask(_mm512_and_si512(b0, top2), continuation));
        const std::uint64_t starts = ~follows;
        // Lanes 64 and 65: the last lanes of b1 and b2.
        const std::uint64_t followsBeyond =
            (static_cast<std::uint64_t>(_mm512_cmpeq_epi8_mask(_mm512_and_si512(b1, top2), continuation)) >> 63) |
            (static_cast<std::uint64_t>(_mm512_cmpeq_epi8_mask(_mm512_and_si512(b2, top2), continuation)) >> 63) << 1;
        const auto longer = static_cast<std::uint64_t>(_mm512_cmpge_epu8_mask(b0, top2));
        const auto threes = static_cast<std::uint64_t>(three);
        const std::uint64_t announced = longer << 1 | threes << 2;
        const std::uint64_t announcedBeyond = ((longer >> 63) | (threes >> 62 & 1)) | (threes >> 63) << 1;
        bad |= (starts & none & ~static_cast<std::uint64_t>(one)) | (announced ^ follows) |
               (announcedBeyond & ~followsBeyond);
        _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(starts, bytes));
        o += _mm_popcnt_u64(starts);
        p += 64 + _mm_popcnt_u64(announcedBeyond);
    }
    _mm256_zeroupper();
}

// 64 lanes, then 32, then one form at a time.
bool decodeAvx512(std::string_view in, const ByteTables& tables, std::string& out) {
    out.resize(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const unsigned char* const end = p + in.size();
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    std::uint64_t bad = 0;
    decodeLanes64(p, end, o, tables, bad);
    decodeLanes32(p, end, o, tables, bad);
    return finishForms(p, end, o, tables, bad, out);
}

constexpr TextPath kAvx2{Vectors::Avx2, "avx2", bytesOfDigitsAvx2, decodeAvx2};
constexpr TextPath kAvx512{Vectors::Avx512Vbmi, "avx512-vbmi2", bytesOfDigitsAvx2, decodeAvx512};

}  // namespace

const TextPath* avx2Path() { return cpu::features().avx2 ? &kAvx2 : nullptr; }
const TextPath* avx512Path() { return cpu::features().avx512vbmi2 ? &kAvx512 : nullptr; }

}  // namespace envelope::detail

#else  // !ENVELOPE_HAVE_AVX2

namespace envelope::detail {

const TextPath* avx2Path() { return nullptr; }
const TextPath* avx512Path() { return nullptr; }

}  // namespace envelope::detail

#endif  // ENVELOPE_HAVE_AVX2
