#include "envelope/byte_tables.h"

#include <cstring>
#include <memory>

#include "crypto/cpu_features.h"
#include "platform/platform.h"
#include "platform/utf8.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define ENVELOPE_HAVE_AVX2 1
#else
#define ENVELOPE_HAVE_AVX2 0
#endif

namespace envelope::detail {

namespace {

bool isSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// A word loaded from memory, as if its bytes had been read least significant
// first.
std::uint32_t littleEndian(std::uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap32(w);
#else
    return w;
#endif
}

// The pages of ByteTables for the code page's forms, or none.
void buildPages(ByteTables& tables, const unsigned char (&narrowed)[256]) {
    std::vector<ByteTables::FormPage> pages;
    for (unsigned b = 0; b < 256; ++b) {
        const std::string form = utf8::encode(std::u16string(1, tables.wide[b]));
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(form[k]); };
        if (form.size() == 1) {
            if (narrowed[b] != at(0)) return;
            continue;
        }
        if (narrowed[b] == 0) return;
        const unsigned char last = at(form.size() - 1);
        const auto lead = static_cast<std::uint8_t>(at(0));
        const auto middle = static_cast<std::uint8_t>(form.size() == 3 ? at(1) : 0);
        auto page = pages.begin();
        while (page != pages.end() && (page->lead != lead || page->middle != middle)) ++page;
        if (page == pages.end()) {
            if (pages.size() == ByteTables::kMaxPages) return;
            page = pages.insert(pages.end(), ByteTables::FormPage{lead, middle, 0, {}});
        }
        const unsigned part = (last >> 4) & 3;
        page->present = static_cast<std::uint8_t>(page->present | 1u << part);
        page->table[part][last & 0x0F] = narrowed[b];
    }
    tables.pages = std::move(pages);
}

// Null when the code page is not byte-wise.
std::unique_ptr<ByteTables> buildTables(unsigned codePage) {
    auto tables = std::make_unique<ByteTables>();
    tables->codePage = codePage;
    unsigned char narrowed[256];
    for (unsigned b = 0; b < 256; ++b) {
        const std::u16string w = platform::widenCodePage(codePage, std::string(1, static_cast<char>(b)));
        if (w.size() != 1 || isSurrogate(w[0])) return nullptr;
        tables->wide[b] = w[0];
        const std::string n = platform::narrowCodePage(codePage, w);
        if (n.size() != 1) return nullptr;
        narrowed[b] = static_cast<unsigned char>(n[0]);
    }
    // Every pair of bytes, side by side: nothing may combine.
    std::string pairs;
    pairs.reserve(2 * 256 * 256);
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            pairs += static_cast<char>(a);
            pairs += static_cast<char>(b);
        }
    }
    const std::u16string widePairs = platform::widenCodePage(codePage, pairs);
    if (widePairs.size() != pairs.size()) return nullptr;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (widePairs[i] != tables->wide[static_cast<unsigned char>(pairs[i])]) return nullptr;
    }
    const std::string narrowPairs = platform::narrowCodePage(codePage, widePairs);
    if (narrowPairs.size() != pairs.size()) return nullptr;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (narrowPairs[i] != static_cast<char>(narrowed[static_cast<unsigned char>(pairs[i])])) return nullptr;
    }

    static const char hexDigits[] = "0123456789ABCDEF";
    for (unsigned b = 0; b < 256; ++b) {
        tables->through[b] = narrowed[b];
        const std::string utf8Bytes = utf8::encode(std::u16string(1, tables->wide[b]));
        Digits& form = tables->utf8[b] = Digits{};
        std::memcpy(form.text, utf8Bytes.data(), utf8Bytes.size());
        form.length = static_cast<std::uint8_t>(utf8Bytes.size());
        for (int k = 0; k < 4; ++k) tables->utf8Planes[k][b] = static_cast<unsigned char>(k < 3 ? form.text[k] : form.length);
        Digits& d = tables->encoded[b];
        std::memset(d.text, 0, sizeof d.text);
        d.length = static_cast<std::uint8_t>(2 * utf8Bytes.size());
        for (std::size_t k = 0; k < utf8Bytes.size(); ++k) {
            const auto v = static_cast<unsigned char>(utf8Bytes[k]);
            d.text[2 * k] = hexDigits[v >> 4];
            d.text[2 * k + 1] = hexDigits[v & 15];
        }
    }
    // The UTF-8 forms of the units, keyed by their bytes.
    tables->prefix.assign(0x10000, -1);
    for (unsigned b0 = 0xE0; b0 < 0x100; ++b0) {
        for (unsigned b1 = 0; b1 < 0x100; ++b1) tables->prefix[b0 | b1 << 8] = 0;
    }
    tables->third.assign(256, -1);
    for (unsigned b = 0; b < 256; ++b) {
        const std::string form = utf8::encode(std::u16string(1, tables->wide[b]));
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(form[k]); };
        if (form.size() == 1) {
            tables->prefix[at(0)] = narrowed[b];
        } else if (form.size() == 2) {
            tables->prefix[at(0) | at(1) << 8] = narrowed[b];
        } else {
            std::int16_t& page = tables->prefix[at(0) | at(1) << 8];
            if (page == 0) {
                page = static_cast<std::int16_t>(tables->third.size() / 256);
                tables->third.resize(tables->third.size() + 256, -1);
            }
            tables->third[static_cast<std::size_t>(page) * 256 + at(2)] = narrowed[b];
        }
    }
    for (unsigned b = 0; b < 256; ++b) tables->sealed[b] = tables->encoded[tables->through[b]];
    tables->keepsEveryByte = true;
    for (unsigned b = 0; b < 256; ++b) tables->keepsEveryByte &= tables->through[b] == b;
    buildPages(*tables, narrowed);
    return tables;
}

// A sequence is taken as the length its first byte announces (one below C0,
// two below E0, else three) and its bytes are looked up as a whole: the tables
// hold exactly the valid forms of the characters that the code page has, so
// the lookup both decodes and validates. The length comes by arithmetic and the
// outcome of the lookups is gathered into one test at the end, so that the
// bytes of the ciphertext steer no branch.
//
// Where one sequence ends the next begins, so a single run is a chain of
// dependent loads; long texts are cut into four runs at sequence boundaries
// and the runs are decoded side by side, each into its own stretch of the
// output, which are then closed up.
struct Run {
    const unsigned char* p;
    const unsigned char* end;
    char* out;
    char* start;
};

inline std::uint32_t decodeOne(Run& r, const std::int16_t* prefix, const std::int16_t* third) {
    std::uint32_t w;
    std::memcpy(&w, r.p, 4);
    w = littleEndian(w);
    const std::uint32_t b0 = w & 0xFF;
    const std::uint32_t two = b0 >= 0xC0;
    const std::uint32_t three = b0 >= 0xE0;
    const std::int32_t first = prefix[w & (0xFFu | ((0u - two) & 0xFF00u))];
    const std::uint32_t page = static_cast<std::uint32_t>(first) & (0u - three);
    const std::int32_t last = third[page * 256 + ((w >> 16) & 0xFF)];
    const std::uint32_t useLast = 0u - three;
    const std::uint32_t byte = (static_cast<std::uint32_t>(last) & useLast) | (static_cast<std::uint32_t>(first) & ~useLast);
    *r.out++ = static_cast<char>(byte);
    r.p += 1 + two + three;
    return byte >> 31;
}

}  // namespace

const ByteTables* byteTablesFor(unsigned codePage) {
    // Per process, with no lock: the plug-in is only ever called on the
    // messenger's one thread, and the command line, the tests, the fuzzers
    // and the benchmarks run on one thread each and start no other, so no two
    // calls ever meet here.
    struct Entry {
        unsigned codePage;
        std::unique_ptr<ByteTables> tables;
    };
    // Every message asks at least once, nearly always for the code page of the
    // message before: that one answers without a search.
    static const Entry* last = nullptr;
    if (last && last->codePage == codePage) return last->tables.get();

    static std::vector<std::unique_ptr<Entry>> entries;
    for (const auto& entry : entries) {
        if (entry->codePage == codePage) {
            last = entry.get();
            return last->tables.get();
        }
    }
    entries.push_back(std::make_unique<Entry>(Entry{codePage, buildTables(codePage)}));
    last = entries.back().get();
    return last->tables.get();
}

// Eight bytes stored for every entry, the pointer moved on by its length, in
// room for the longest, then cut to what was written. Four bytes a round: the
// loop's own counting is shared among them, and its speed no longer hangs on
// where the linker happens to place it.
void appendDigits(std::string& out, std::string_view bytes, const Digits (&table)[256]) {
    const std::size_t start = out.size();
    out.resize(start + 6 * bytes.size() + 8);
    char* const begin = &out[start];
    char* p = begin;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const auto put = [&p, &table](unsigned char byte) {
        const Digits& d = table[byte];
        std::memcpy(p, d.text, 8);
        p += d.length;
    };
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        put(in[i]);
        put(in[i + 1]);
        put(in[i + 2]);
        put(in[i + 3]);
    }
    for (; i < n; ++i) put(in[i]);
    out.resize(start + static_cast<std::size_t>(p - begin));
}

namespace {

// The tests' limit (limitVectors); the processor decides the rest.
Vectors vectorLimit = Vectors::Avx512Vbmi;

bool decodeInRuns(std::string_view in, const ByteTables& tables, std::string& out) {
    out.resize(in.size());
    const auto* begin = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    const std::int16_t* prefix = tables.prefix.data();
    const std::int16_t* third = tables.third.data();

    constexpr int kRuns = 4;
    Run runs[kRuns];
    std::size_t cut = 0;
    for (int k = 0; k < kRuns; ++k) {
        // A run begins at a byte that is no continuation byte (valid UTF-8 has
        // at most three in a row; invalid text is refused whatever the cuts).
        std::size_t from = n < 256 ? (k == 0 ? 0 : n) : n * k / kRuns;
        if (from < cut) from = cut;
        // The first run begins at the first byte, whatever it is.
        for (int guard = 0; k > 0 && guard < 3 && from < n && (begin[from] & 0xC0) == 0x80; ++guard) ++from;
        runs[k].p = begin + from;
        runs[k].out = runs[k].start = &out[0] + from;
        if (k > 0) runs[k - 1].end = begin + from;
        cut = from;
    }
    runs[kRuns - 1].end = begin + n;

    std::uint32_t bad = 0;
    while (runs[0].p < runs[0].end && runs[1].p < runs[1].end && runs[2].p < runs[2].end &&
           runs[3].p < runs[3].end && !bad) {
        bad |= decodeOne(runs[0], prefix, third);
        bad |= decodeOne(runs[1], prefix, third);
        bad |= decodeOne(runs[2], prefix, third);
        bad |= decodeOne(runs[3], prefix, third);
    }
    for (Run& r : runs) {
        while (r.p < r.end && !bad) bad |= decodeOne(r, prefix, third);
        // A last sequence that ran past its run was refused or misread: the
        // runs must end exactly at their ends.
        bad |= static_cast<std::uint32_t>(r.p != r.end);
    }
    if (bad) return false;

    char* o = runs[0].out;
    for (int k = 1; k < kRuns; ++k) {
        const std::size_t length = static_cast<std::size_t>(runs[k].out - runs[k].start);
        std::memmove(o, runs[k].start, length);
        o += length;
    }
    out.resize(static_cast<std::size_t>(o - &out[0]));
    return true;
}

#if ENVELOPE_HAVE_AVX2

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

// The last bytes as decodeInRuns takes a short text, and the verdict.
bool finish(const unsigned char* p, const unsigned char* end, unsigned char* o, const ByteTables& tables,
            std::uint64_t bad, std::string& out) {
    Run rest{p, end, reinterpret_cast<char*>(o), reinterpret_cast<char*>(o)};
    while (rest.p < rest.end && !bad) bad |= decodeOne(rest, tables.prefix.data(), tables.third.data());
    bad |= static_cast<std::uint64_t>(rest.p != rest.end);
    if (bad) return false;
    out.resize(static_cast<std::size_t>(rest.out - &out[0]));
    return true;
}

bool decodeAvx2(std::string_view in, const ByteTables& tables, std::string& out) {
    out.resize(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const unsigned char* const end = p + in.size();
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    std::uint64_t bad = 0;
    decodeLanes32(p, end, o, tables, bad);
    return finish(p, end, o, tables, bad, out);
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
    return finish(p, end, o, tables, bad, out);
}

#endif  // ENVELOPE_HAVE_AVX2

}  // namespace

Vectors widestVectors() {
#if ENVELOPE_HAVE_AVX2
    const cpu::Features& f = cpu::features();
    if (f.avx512vbmi2) return Vectors::Avx512Vbmi;
    if (f.avx2) return Vectors::Avx2;
#endif
    return Vectors::Sse2;
}

void limitVectors(Vectors widest) { vectorLimit = widest; }

Vectors vectorsInUse() {
    static const Vectors widest = widestVectors();
    return vectorLimit < widest ? vectorLimit : widest;
}

bool narrowUtf8ByTable(std::string_view in, const ByteTables& tables, std::string& out) {
#if ENVELOPE_HAVE_AVX2
    if (!tables.pages.empty()) {
        switch (vectorsInUse()) {
            case Vectors::Avx512Vbmi:
                return decodeAvx512(in, tables, out);
            case Vectors::Avx2:
                return decodeAvx2(in, tables, out);
            case Vectors::Sse2:
                break;
        }
    }
#endif
    return decodeInRuns(in, tables, out);
}

}  // namespace envelope::detail
