#include "envelope/byte_tables.h"

#include <cstring>
#include <memory>

#include "envelope/text_paths.h"
#include "platform/hex.h"
#include "platform/platform.h"
#include "platform/utf8.h"

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

    for (unsigned b = 0; b < 256; ++b) {
        tables->through[b] = narrowed[b];
        const std::string utf8Bytes = utf8::encode(std::u16string(1, tables->wide[b]));
        Digits& form = tables->utf8[b] = Digits{};
        std::memcpy(form.text, utf8Bytes.data(), utf8Bytes.size());
        form.length = static_cast<std::uint8_t>(utf8Bytes.size());
        for (int k = 0; k < 4; ++k) tables->utf8Planes[k][b] = static_cast<unsigned char>(k < 3 ? form.text[k] : form.length);
        const std::string digits = platform::toHex(utf8Bytes);
        Digits& d = tables->encoded[b];
        std::memset(d.text, 0, sizeof d.text);
        std::memcpy(d.text, digits.data(), digits.size());
        d.length = static_cast<std::uint8_t>(digits.size());
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
// loop's own counting is shared among them, so that its speed does not hang
// on where the linker happens to place it.
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

bool narrowInRuns(std::string_view in, const ByteTables& tables, std::string& out) {
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

bool finishForms(const unsigned char* p, const unsigned char* end, unsigned char* o, const ByteTables& tables,
                 std::uint64_t bad, std::string& out) {
    Run rest{p, end, reinterpret_cast<char*>(o), reinterpret_cast<char*>(o)};
    while (rest.p < rest.end && !bad) bad |= decodeOne(rest, tables.prefix.data(), tables.third.data());
    bad |= static_cast<std::uint64_t>(rest.p != rest.end);
    if (bad) return false;
    out.resize(static_cast<std::size_t>(rest.out - &out[0]));
    return true;
}

bool narrowUtf8ByTable(std::string_view in, const ByteTables& tables, std::string& out) {
    // A code page whose forms do not fit the vector decoders' pages is read
    // one form at a time, whatever the path.
    if (tables.pages.empty()) return narrowInRuns(in, tables, out);
    return textPath().narrowForms(in, tables, out);
}

}  // namespace envelope::detail
