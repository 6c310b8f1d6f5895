#include "host/envelope.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

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

// A hex digit's value, 16 for any other character.
struct HexValues {
    std::uint8_t of[256];
    constexpr HexValues() : of() {
        for (int c = 0; c < 256; ++c) of[c] = 16;
        for (int d = 0; d < 10; ++d) of['0' + d] = static_cast<std::uint8_t>(d);
        for (int d = 0; d < 6; ++d) {
            of['A' + d] = static_cast<std::uint8_t>(10 + d);
            of['a' + d] = static_cast<std::uint8_t>(10 + d);
        }
    }
};
constexpr HexValues kHexValues;

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

// The hex digits to bytes, followed by two zero bytes that are not part of
// them (for narrowUtf8ByTable); an unpaired last digit is checked but carries
// nothing.
std::string paddedBytesOfDigits(std::string_view hexText) {
    std::string bytes(hexText.size() / 2 + 2, '\0');
    const std::size_t pairs = hexText.size() / 2;
    const auto* in = reinterpret_cast<const unsigned char*>(hexText.data());
    auto* out = reinterpret_cast<unsigned char*>(&bytes[0]);
    // Without a branch per digit: what is not a digit is noted and sought
    // afterwards.
    unsigned notDigits = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const unsigned high = kHexValues.of[in[2 * i]];
        const unsigned low = kHexValues.of[in[2 * i + 1]];
        notDigits |= high | low;
        out[i] = static_cast<unsigned char>((high << 4) | low);
    }
    if (hexText.size() % 2 != 0) notDigits |= kHexValues.of[in[hexText.size() - 1]];
    if (notDigits & 16) {
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

    // narrow of a unit (below 0x10000) that some byte widens to; -1 for any
    // other unit.
    int narrowOfUnit(std::uint32_t unit) const { return (*pages_[unit >> 8])[unit & 0xFF]; }

    // Null when the code page is not byte-wise.
    static std::unique_ptr<ByteSteps> build(unsigned codePage);

private:
    using Page = std::array<std::int16_t, 256>;
    // Units by their high byte; pages without such a unit share one of -1s.
    std::vector<std::unique_ptr<Page>> ownPages_;
    const Page* pages_[256];
};

bool isSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

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
    static const Page none = [] {
        Page p;
        p.fill(-1);
        return p;
    }();
    for (auto& page : steps->pages_) page = &none;
    Page* own[256] = {};
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint32_t unit = steps->wide[b];
        Page*& page = own[unit >> 8];
        if (!page) {
            steps->ownPages_.push_back(std::make_unique<Page>(none));
            page = steps->ownPages_.back().get();
            steps->pages_[unit >> 8] = page;
        }
        (*page)[unit & 0xFF] = narrowed[b];
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
// `in` is followed in its storage by two zero bytes (paddedBytesOfDigits): every
// sequence reads three bytes, and a zero is no continuation byte, so a
// sequence cut short by the end is still seen.
bool narrowUtf8ByTable(std::string_view in, const ByteSteps& steps, std::string& out) {
    out.resize(in.size());
    char* o = &out[0];
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    // The sequence's length comes from its first byte by arithmetic, and its
    // checks are gathered into one test, so that the bytes of the ciphertext
    // do not steer a branch each.
    // Conditions are 0 or 1 and are combined with & and |, never && or ||,
    // and the unit is chosen with masks, which keeps the compiler from
    // branching on them.
    while (p < end) {
        const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
        const std::uint32_t two = b0 >= 0xC0;    // at least two bytes
        const std::uint32_t three = b0 >= 0xE0;  // three (F0 and up: refused below)
        const std::uint32_t unit2 = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
        const std::uint32_t unit3 = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
        const std::uint32_t useThree = 0u - three;
        const std::uint32_t useTwo = (0u - two) & ~useThree;
        const std::uint32_t useOne = two - 1u;
        const std::uint32_t unit = (b0 & useOne) | (unit2 & useTwo) | (unit3 & useThree);
        const std::uint32_t bad = static_cast<std::uint32_t>(b0 - 0x80u < 0x42u) |  // continuation, C0, C1
                                  static_cast<std::uint32_t>(b0 >= 0xF0) |
                                  (two & static_cast<std::uint32_t>((b1 & 0xC0u) != 0x80u)) |
                                  (three & (static_cast<std::uint32_t>((b2 & 0xC0u) != 0x80u) |
                                            static_cast<std::uint32_t>(unit3 < 0x800u) |
                                            static_cast<std::uint32_t>(unit3 - 0xD800u < 0x800u)));
        const int byte = steps.narrowOfUnit(unit);
        if (bad | static_cast<std::uint32_t>(byte < 0)) return false;
        *o++ = static_cast<char>(byte);
        p += 1 + two + three;
    }
    // A last sequence that ran into the padding was cut short.
    if (p != end) return false;
    out.resize(static_cast<std::size_t>(o - &out[0]));
    return true;
}

// utf8Bytes as paddedBytesOfDigits leaves them, two zeros after the end.
std::string narrowUtf8(std::string_view utf8Bytes, unsigned codePage) {
    if (const ByteSteps* steps = byteStepsFor(codePage)) {
        std::string out;
        if (narrowUtf8ByTable(utf8Bytes, *steps, out)) return out;
    }
    return narrowUtf8InSteps(utf8Bytes, codePage);
}

std::string throughCodePage(std::string_view bytes, unsigned codePage) {
    const ByteSteps* steps = byteStepsFor(codePage);
    if (!steps) return throughCodePageInSteps(bytes, codePage);
    std::string out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<char>(steps->through[static_cast<unsigned char>(bytes[i])]);
    return out;
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
    return narrowUtf8(std::string_view(padded.data(), padded.size() - 2), codePage);
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

    result.text = throughCodePage(decrypted, codePage);
    while (!result.text.empty() && result.text.back() == '\0') result.text.pop_back();
    return result;
}

bool hasMarker(std::string_view text) { return text.substr(0, marker.size()) == marker; }

}  // namespace envelope
