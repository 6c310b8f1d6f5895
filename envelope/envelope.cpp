#include "envelope/envelope.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "crypto/memory_stream.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte that two hex digits spell, indexed by the two characters as a
// 16-bit word (first character in the low byte); 0x100 and up for a pair that
// is not two digits.
struct HexPairs {
    std::uint16_t of[0x10000];
    constexpr HexPairs() : of() {
        std::int32_t digit[256] = {};
        for (int c = 0; c < 256; ++c) digit[c] = -1;
        for (int d = 0; d < 10; ++d) digit['0' + d] = d;
        for (int d = 0; d < 6; ++d) digit['A' + d] = digit['a' + d] = 10 + d;
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                const bool both = digit[first] >= 0 && digit[second] >= 0;
                of[first | second << 8] =
                    static_cast<std::uint16_t>(both ? digit[first] << 4 | digit[second] : 0x100);
            }
        }
    }
};
constexpr HexPairs kHexPairs;

void appendLengthPrefix(std::string& out, std::uint32_t length) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
}

std::uint32_t readLengthPrefix(std::string_view payload) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(payload[i]);
    return v;
}

[[noreturn]] void raiseNotADigit(std::size_t index) {
    throw EEnvelopeError("The envelope holds a character that is not a hexadecimal digit, at position " +
                         std::to_string(index + 1 + marker.size()) + ".");
}

[[noreturn]] void raiseInvalidUtf8() { throw EEnvelopeError("The envelope's digits do not spell valid UTF-8 text."); }

// ---- The text steps, one conversion after the other -------------------------
// These define what the envelope's text steps are, for every code page.

// Widen and narrow through the peers' code page: with a single-byte code page
// every byte comes back as it was.
std::string throughCodePageInSteps(std::string_view bytes, unsigned codePage) {
    return platform::narrowCodePage(codePage, platform::widenCodePage(codePage, bytes));
}

std::string hexEncodeInSteps(std::string_view text, unsigned codePage) {
    static const char digits[] = "0123456789ABCDEF";
    const std::string bytes = utf8::encode(platform::widenCodePage(codePage, text));
    std::string out(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    return out;
}

// The hex digits to bytes, followed by four zero bytes that are not part of
// them (for narrowUtf8ByTable); an unpaired last digit is checked but carries
// nothing.
constexpr std::size_t kPadding = 4;

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

std::string paddedBytesOfDigits(std::string_view hexText) {
    std::string bytes(hexText.size() / 2 + kPadding, '\0');
    const std::size_t pairs = hexText.size() / 2;
    const auto* in = reinterpret_cast<const unsigned char*>(hexText.data());
    auto* out = reinterpret_cast<unsigned char*>(&bytes[0]);
    // One lookup a pair and no branch: what is not a digit is noted, and
    // sought afterwards for the error's position.
    unsigned notDigits = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen digits at a time while they are all digits.
    while (i + 8 <= pairs && digitsToBytes16(in + 2 * i, out + i)) i += 8;
#endif
    for (; i < pairs; ++i) {
        const unsigned value = kHexPairs.of[in[2 * i] | in[2 * i + 1] << 8];
        notDigits |= value;
        out[i] = static_cast<unsigned char>(value);
    }
    if (hexText.size() % 2 != 0) notDigits |= kHexPairs.of[in[hexText.size() - 1] | '0' << 8];
    if (notDigits & 0x100) {
        for (std::size_t i = 0; i < hexText.size(); ++i) {
            if (hexValue(hexText[i]) < 0) raiseNotADigit(i);
        }
    }
    return bytes;
}

std::string narrowUtf8InSteps(std::string_view utf8Bytes, unsigned codePage) {
    const auto text = utf8::decode(utf8Bytes);
    if (!text) raiseInvalidUtf8();
    return platform::narrowCodePage(codePage, *text);
}

// ---- The same steps as tables of single bytes --------------------------------
// With a single-byte code page each step maps one byte (or one UTF-16 unit) to
// one, independently of its neighbours, so the chain of conversions is a table
// lookup per byte. The tables are filled from the platform's own conversions,
// and only after the conversions have been seen to be byte-wise for this code
// page: every byte widens to one unit on its own and in every pair of bytes,
// and those units narrow one to one, alone and in pairs. A code page that
// fails this (a double-byte one) keeps the conversions in steps.

// Up to six hex digits (three UTF-8 bytes), stored eight at a time.
struct Digits {
    char text[8];
    std::uint8_t length;
};


class ByteSteps {
public:
    unsigned codePage = 0;
    char16_t wide[256];          // widen of the byte
    unsigned char through[256];  // narrow(widen(byte))
    Digits encoded[256];         // hex of UTF-8 of widen(byte): hexEncode
    Digits sealed[256];          // encoded[through[byte]]: a payload byte in the envelope

    // Strict UTF-8 decoding and narrowing in one, for the characters that some
    // byte widens to, by the bytes of their (only valid) UTF-8 form:
    //   prefix[b0 | b1 << 8], for a lead byte b0 below E0 (b1 0 for one-byte
    //     forms), is the narrowed byte, or -1 for a form of no such character
    //     or no valid form at all;
    //   for b0 from E0 up it is the page of third bytes of the forms that
    //     begin with b0 b1 (page 0: none), and third[page * 256 + b2] is the
    //     narrowed byte, or -1.
    std::vector<std::int16_t> prefix;
    std::vector<std::int16_t> third;

    // Null when the code page is not byte-wise.
    static std::unique_ptr<ByteSteps> build(unsigned codePage);
};

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

std::unique_ptr<ByteSteps> ByteSteps::build(unsigned codePage) {
    auto steps = std::make_unique<ByteSteps>();
    steps->codePage = codePage;
    unsigned char narrowed[256];
    for (unsigned b = 0; b < 256; ++b) {
        const std::u16string w = platform::widenCodePage(codePage, std::string(1, static_cast<char>(b)));
        if (w.size() != 1 || isSurrogate(w[0])) return nullptr;
        steps->wide[b] = w[0];
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
        if (widePairs[i] != steps->wide[static_cast<unsigned char>(pairs[i])]) return nullptr;
    }
    const std::string narrowPairs = platform::narrowCodePage(codePage, widePairs);
    if (narrowPairs.size() != pairs.size()) return nullptr;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (narrowPairs[i] != static_cast<char>(narrowed[static_cast<unsigned char>(pairs[i])])) return nullptr;
    }

    static const char hexDigits[] = "0123456789ABCDEF";
    for (unsigned b = 0; b < 256; ++b) {
        steps->through[b] = narrowed[b];
        const std::string utf8Bytes = utf8::encode(std::u16string(1, steps->wide[b]));
        Digits& d = steps->encoded[b];
        std::memset(d.text, 0, sizeof d.text);
        d.length = static_cast<std::uint8_t>(2 * utf8Bytes.size());
        for (std::size_t k = 0; k < utf8Bytes.size(); ++k) {
            const auto v = static_cast<unsigned char>(utf8Bytes[k]);
            d.text[2 * k] = hexDigits[v >> 4];
            d.text[2 * k + 1] = hexDigits[v & 15];
        }
    }
    // The UTF-8 forms of the units, keyed by their bytes.
    steps->prefix.assign(0x10000, -1);
    for (unsigned b0 = 0xE0; b0 < 0x100; ++b0) {
        for (unsigned b1 = 0; b1 < 0x100; ++b1) steps->prefix[b0 | b1 << 8] = 0;
    }
    steps->third.assign(256, -1);
    for (unsigned b = 0; b < 256; ++b) {
        const std::string form = utf8::encode(std::u16string(1, steps->wide[b]));
        const auto at = [&](std::size_t k) { return static_cast<unsigned char>(form[k]); };
        if (form.size() == 1) {
            steps->prefix[at(0)] = narrowed[b];
        } else if (form.size() == 2) {
            steps->prefix[at(0) | at(1) << 8] = narrowed[b];
        } else {
            std::int16_t& page = steps->prefix[at(0) | at(1) << 8];
            if (page == 0) {
                page = static_cast<std::int16_t>(steps->third.size() / 256);
                steps->third.resize(steps->third.size() + 256, -1);
            }
            steps->third[static_cast<std::size_t>(page) * 256 + at(2)] = narrowed[b];
        }
    }
    for (unsigned b = 0; b < 256; ++b) steps->sealed[b] = steps->encoded[steps->through[b]];
    return steps;
}

// The tables of a code page, built on first use; null when it is not
// byte-wise. Built once per code page and kept for the life of the process.
const ByteSteps* byteStepsFor(unsigned codePage) {
    struct Entry {
        unsigned codePage;
        std::unique_ptr<ByteSteps> steps;
    };
    static std::atomic<const Entry*> last{nullptr};
    static std::mutex mutex;
    static std::vector<std::unique_ptr<Entry>> entries;

    const Entry* seen = last.load(std::memory_order_acquire);
    if (seen && seen->codePage == codePage) return seen->steps.get();
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& e : entries) {
        if (e->codePage == codePage) {
            last.store(e.get(), std::memory_order_release);
            return e->steps.get();
        }
    }
    entries.push_back(std::make_unique<Entry>(Entry{codePage, ByteSteps::build(codePage)}));
    last.store(entries.back().get(), std::memory_order_release);
    return entries.back()->steps.get();
}

// Appends the digits of each byte through one of the digit tables: eight
// bytes stored for every entry, the pointer moved on by its length, in room for
// the longest, then cut to what was written.
void appendDigits(std::string& out, std::string_view bytes, const Digits (&table)[256]) {
    const std::size_t start = out.size();
    out.resize(start + 6 * bytes.size() + 8);
    char* const begin = &out[start];
    char* p = begin;
    for (const char c : bytes) {
        const Digits& d = table[static_cast<unsigned char>(c)];
        std::memcpy(p, d.text, 8);
        p += d.length;
    }
    out.resize(start + static_cast<std::size_t>(p - begin));
}

// Strict UTF-8 to the code page through the tables, for texts whose every
// character is one that a byte of the code page widens to. Returns false,
// having changed nothing that counts, for anything else (a character the code
// page lacks, one beyond U+FFFF, or invalid UTF-8): the caller then takes the
// conversions in steps, which decide the result or the error.
// `in` is followed in its storage by four zero bytes (paddedBytesOfDigits):
// every sequence reads four bytes, and a zero is no continuation byte, so a
// sequence cut short by the end is refused like any other.
//
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

bool narrowUtf8ByTable(std::string_view in, const ByteSteps& steps, std::string& out) {
    out.resize(in.size());
    const auto* begin = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    const std::int16_t* prefix = steps.prefix.data();
    const std::int16_t* third = steps.third.data();

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
           runs[3].p < runs[3].end) {
        bad |= decodeOne(runs[0], prefix, third);
        bad |= decodeOne(runs[1], prefix, third);
        bad |= decodeOne(runs[2], prefix, third);
        bad |= decodeOne(runs[3], prefix, third);
    }
    for (Run& r : runs) {
        while (r.p < r.end) bad |= decodeOne(r, prefix, third);
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

// utf8Bytes as paddedBytesOfDigits leaves them, zeros after the end.
std::string narrowUtf8(std::string_view utf8Bytes, unsigned codePage) {
    if (const ByteSteps* steps = byteStepsFor(codePage)) {
        std::string out;
        if (narrowUtf8ByTable(utf8Bytes, *steps, out)) return out;
    }
    return narrowUtf8InSteps(utf8Bytes, codePage);
}

// ---- Streams over the envelope's own strings ---------------------------------

// Reads a run of bytes in place, without a copy.
class ViewStream final : public ElAES::ByteStream {
public:
    explicit ViewStream(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void SetPosition(std::uint64_t position) override { position_ = position; }
    std::size_t Read(void* buffer, std::size_t n) override {
        if (position_ >= bytes_.size()) return 0;
        const std::size_t available = bytes_.size() - static_cast<std::size_t>(position_);
        const std::size_t count = n < available ? n : available;
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return count;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }

private:
    std::string_view bytes_;
    std::uint64_t position_ = 0;
};

// Appends what is written to a string whose capacity the caller has set.
class AppendStream final : public ElAES::ByteStream {
public:
    explicit AppendStream(std::string& bytes) : bytes_(bytes), position_(bytes.size()) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void SetPosition(std::uint64_t position) override { position_ = position; }
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* buffer, std::size_t n) override {
        if (position_ != bytes_.size()) return 0;  // only ever written at its end
        bytes_.append(static_cast<const char*>(buffer), n);
        position_ += n;
        return n;
    }

private:
    std::string& bytes_;
    std::uint64_t position_;
};

}  // namespace

std::string hexEncode(std::string_view text, unsigned codePage) {
    const ByteSteps* steps = byteStepsFor(codePage);
    if (!steps) return hexEncodeInSteps(text, codePage);
    std::string out;
    appendDigits(out, text, steps->encoded);
    return out;
}

std::string hexDecode(std::string_view hexText, unsigned codePage) {
    const std::string padded = paddedBytesOfDigits(hexText);
    return narrowUtf8(std::string_view(padded.data(), padded.size() - kPadding), codePage);
}

std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage) {
    const auto length = static_cast<std::uint32_t>(message.size());
    std::string payload;
    payload.reserve(4 + (message.size() + 15) / 16 * 16);
    appendLengthPrefix(payload, length);
    ViewStream source(message);
    AppendStream destination(payload);
    ElAES::encryptStream(source, 0, key, destination);

    // marker + hexEncode(throughCodePage(payload)), byte by byte when the code
    // page allows.
    std::string out(marker);
    if (const ByteSteps* steps = byteStepsFor(codePage)) {
        appendDigits(out, payload, steps->sealed);
    } else {
        out += hexEncodeInSteps(throughCodePageInSteps(payload, codePage), codePage);
    }
    return out;
}

std::string payloadOf(std::string_view hexText, unsigned codePage) {
    std::string payload = hexDecode(hexText, codePage);
    if (payload.size() < 4) throw EEnvelopeError("The envelope is too short to hold a message.");
    return payload;
}

Opened open(std::string_view hexText, const ElAES::Key& key, unsigned codePage) {
    return openPayload(payloadOf(hexText, codePage), key, codePage);
}

Opened openPayload(const std::string& payload, const ElAES::Key& key, unsigned codePage) {
    Opened result;
    result.declaredLength = readLengthPrefix(payload);

    ViewStream source(payload);
    source.SetPosition(4);
    std::string decrypted;
    decrypted.reserve(payload.size() - 4);
    AppendStream plain(decrypted);
    try {
        ElAES::decryptStream(source, static_cast<std::uint32_t>(payload.size() - 4), key, plain);
    } catch (const ElAES::EAESError&) {
        throw EEnvelopeError("The envelope's ciphertext is not a whole number of 16-byte blocks.");
    }

    // The sender's length tells how much of the last block is zero fill. A
    // ciphertext of another size, or fill that did not decrypt to zeros, means
    // a wrong key or a damaged envelope, not a message.
    const std::uint64_t L = result.declaredLength;
    if (decrypted.size() != (L + 15) / 16 * 16) {
        throw EEnvelopeError("The envelope does not fit the message length it declares: wrong key or damaged envelope.");
    }
    for (std::size_t i = static_cast<std::size_t>(L); i < decrypted.size(); ++i) {
        if (decrypted[i] != '\0') throw EEnvelopeError("The envelope does not open with this key.");
    }

    // Through the code page in place where the tables allow, then trimmed.
    if (const ByteSteps* steps = byteStepsFor(codePage)) {
        for (char& c : decrypted) c = static_cast<char>(steps->through[static_cast<unsigned char>(c)]);
        result.text = std::move(decrypted);
    } else {
        result.text = throughCodePageInSteps(decrypted, codePage);
    }
    std::size_t length = result.text.size();
    while (length > 0 && result.text[length - 1] == '\0') --length;
    result.text.resize(length);
    return result;
}

bool hasMarker(std::string_view text) { return text.substr(0, marker.size()) == marker; }

}  // namespace envelope
