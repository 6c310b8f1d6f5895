#include "envelope/receipt.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "envelope/byte_tables.h"
#include "platform/hex.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

// Which byte of a single-byte code page widens to each character it has.
// Built from the platform's own conversion of the 256 bytes; null when the
// platform does not have the code page or it is not single-byte.
struct CodePageBytes {
    std::map<char16_t, unsigned char> byteOf;
};

const CodePageBytes* bytesOfCodePage(unsigned codePage) {
    static std::mutex lock;
    static std::map<unsigned, std::unique_ptr<CodePageBytes>> known;
    const std::lock_guard<std::mutex> guard(lock);
    const auto found = known.find(codePage);
    if (found != known.end()) return found->second.get();
    std::unique_ptr<CodePageBytes> made;
    try {
        std::string everyByte(256, '\0');
        for (int b = 0; b < 256; ++b) everyByte[b] = static_cast<char>(b);
        const std::u16string wide = platform::widenCodePage(codePage, everyByte);
        if (wide.size() == 256) {
            made = std::make_unique<CodePageBytes>();
            for (int b = 255; b >= 0; --b) made->byteOf[wide[b]] = static_cast<unsigned char>(b);
        }
    } catch (const Exception&) {
        // Not installed here: it is no candidate. (Running out of memory is
        // not that, and goes to the caller.)
    }
    return (known[codePage] = std::move(made)).get();
}

// The bytes of pairs of hex digits, up to the first pair that is not two digits.
std::string bytesOfDigits(std::string_view hexText) {
    std::string bytes;
    bytes.reserve(hexText.size() / 2);
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2) {
        const int high = platform::hexDigitValue(hexText[i]);
        const int low = platform::hexDigitValue(hexText[i + 1]);
        if (high < 0 || low < 0) break;
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
}

// The length of the strictly valid UTF-8 sequence at the start of bytes, or 0.
std::size_t sequenceLength(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const std::size_t n = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (n == 0 || n > bytes.size()) return 0;
    return utf8::isValid(bytes.substr(0, n)) ? n : 0;
}

std::uint32_t lengthPrefixOf(std::string_view payload) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(payload[i]);
    return v;
}

// The payload that UTF-8 bytes carry when read through a code page, each
// character one byte. `lenient`: a character the code page lacks counts as
// its default character, as the receiver's own reading always did; otherwise
// it rules the code page out. `prefix`: the payload ends where its length
// prefix says, and `consumed` tells how many UTF-8 bytes it took.
struct Reading {
    std::string payload;
    std::size_t consumed = 0;
};

std::optional<Reading> readThrough(std::string_view utf8Bytes, const CodePageBytes& page, bool lenient, bool prefix) {
    Reading r;
    std::size_t wanted = std::string::npos;
    std::size_t at = 0;
    while (at < utf8Bytes.size() && r.payload.size() != wanted) {
        const std::size_t n = sequenceLength(utf8Bytes.substr(at));
        if (n == 0) return std::nullopt;
        const auto wide = utf8::decode(utf8Bytes.substr(at, n));
        const auto found = wide->size() == 1 ? page.byteOf.find((*wide)[0]) : page.byteOf.end();
        if (found == page.byteOf.end() && !lenient) return std::nullopt;
        r.payload += found == page.byteOf.end() ? '?' : static_cast<char>(found->second);
        at += n;
        if (prefix && r.payload.size() == 4) wanted = 4 + (std::size_t{lengthPrefixOf(r.payload)} + 15) / 16 * 16;
    }
    if (prefix && r.payload.size() != wanted) return std::nullopt;
    r.consumed = at;
    return r;
}

Received fromOpened(Opened&& opened, unsigned codePage, bool verified, std::size_t digits) {
    Received r;
    r.text = std::move(opened.text);
    r.declaredLength = opened.declaredLength;
    r.codePage = codePage;
    r.verified = verified;
    r.digits = digits;
    return r;
}

bool verifiable(std::uint32_t declaredLength) { return declaredLength % 16 != 0; }

struct Candidate {
    unsigned codePage;
    std::string payload;
    std::vector<unsigned> alike;
};

// Raised by openThroughOthers when no other code page's reading opens: the
// caller then raises the receiver's own error.
struct NoOtherReading {};

// The other code pages' readings, when the receiver's own did not open.
Received openThroughOthers(std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent) {
    const std::string utf8Bytes = bytesOfDigits(hexText);
    const bool prefix = extent == Extent::Prefix;
    std::vector<Candidate> candidates;
    for (const unsigned cp : senderCodePages) {
        if (cp == ownCodePage) continue;
        const CodePageBytes* page = bytesOfCodePage(cp);
        if (!page) continue;
        auto reading = readThrough(utf8Bytes, *page, false, prefix);
        // Whole: every digit must be part of it, as the receiver's own reading requires.
        if (!reading || (!prefix && 2 * reading->consumed + 1 < hexText.size())) continue;
        const auto same = std::find_if(candidates.begin(), candidates.end(),
                                       [&](const Candidate& c) { return c.payload == reading->payload; });
        if (same != candidates.end()) {
            same->alike.push_back(cp);
        } else {
            candidates.push_back({cp, std::move(reading->payload), {}});
        }
    }
    std::vector<Received> opened;
    for (const Candidate& c : candidates) {
        if (c.payload.size() < 4 || !verifiable(lengthPrefixOf(c.payload))) continue;
        try {
            Received r = fromOpened(openPayload(c.payload, key, c.codePage), c.codePage, true, 0);
            r.alike = c.alike;
            // Two digits for each UTF-8 byte of its characters.
            r.digits = prefix ? 2 * readThrough(utf8Bytes, *bytesOfCodePage(c.codePage), false, true)->consumed
                              : hexText.size();
            opened.push_back(std::move(r));
        } catch (const EEnvelopeError&) {
        }
    }
    if (opened.empty()) throw NoOtherReading{};
    if (opened.size() > 1) {
        throw EEnvelopeError("The envelope opens through code page " + std::to_string(opened[0].codePage) +
                             " and through " + std::to_string(opened[1].codePage) +
                             " to different messages: it cannot be told which one was sent.");
    }
    return std::move(opened[0]);
}

// Whether reading the digits through the code page had to put its default
// character for characters it lacks. Such a reading is not the sender's, and
// the zero fill cannot be trusted to say so: it covers the last block only,
// and an envelope from another code page whose last block happens to read
// alike would open with earlier blocks wrong. The default character's two
// digits stand for a character of four or more, so the payload then spells
// fewer digits than there were.
bool lostCharacters(std::string_view hexText, std::string_view payload, unsigned codePage) {
    if (std::find(payload.begin(), payload.end(), '?') == payload.end()) return false;
    const detail::ByteTables* tables = detail::byteTablesFor(codePage);
    if (!tables) return false;
    std::size_t digits = 0;
    for (const char b : payload) digits += tables->encoded[static_cast<unsigned char>(b)].length;
    return digits != hexText.size() - hexText.size() % 2;
}

Received ownReading(Opened&& opened, unsigned ownCodePage, std::size_t digits) {
    const bool verified = verifiable(opened.declaredLength);
    return fromOpened(std::move(opened), ownCodePage, verified, digits);
}

// The receiver's own reading of `ownDigits`, opened. When it could not be
// verified (its length is a multiple of 16: perhaps only because a length
// of another code page's bytes reads so in ours), or had to put its default
// character for characters our code page lacks, a reading of `hexText`
// through another code page that verifies is the message. Without one, the
// envelope opens as it always did.
Received preferSender(Received&& own, std::string_view ownDigits, const std::string& ownPayload,
                      std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent) {
    if (!own.verified || lostCharacters(ownDigits, ownPayload, ownCodePage)) {
        try {
            return openThroughOthers(hexText, key, ownCodePage, extent);
        } catch (const NoOtherReading&) {
        } catch (const EEnvelopeError&) {
        }
    }
    return std::move(own);
}

}  // namespace

Received openReceived(std::string_view hexText, const std::string& ownPayload, const ElAES::Key& key,
                      unsigned ownCodePage) {
    try {
        Received own = ownReading(openPayload(ownPayload, key, ownCodePage), ownCodePage, hexText.size());
        return preferSender(std::move(own), hexText, ownPayload, hexText, key, ownCodePage, Extent::Whole);
    } catch (const EEnvelopeError& e) {
        try {
            return openThroughOthers(hexText, key, ownCodePage, Extent::Whole);
        } catch (const NoOtherReading&) {
            throw e;
        }
    }
}

Received openReceived(std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent) {
    if (extent == Extent::Whole) return openReceived(hexText, payloadOf(hexText, ownCodePage), key, ownCodePage);

    // The whole run first, as the plug-in reads a message: most often it is
    // the envelope, and this costs nothing more.
    const auto openOwn = [&](std::string_view digits) {
        const std::string payload = payloadOf(digits, ownCodePage);
        Received own = ownReading(openPayload(payload, key, ownCodePage), ownCodePage, digits.size());
        return preferSender(std::move(own), digits, payload, hexText, key, ownCodePage, Extent::Prefix);
    };
    try {
        return openOwn(hexText);
    } catch (const EEnvelopeError& whole) {
        // Glued text: the envelope is as long as its length prefix, read
        // through the receiver's code page, says. When that cannot be worked
        // out (too few digits, invalid UTF-8 before the end), the error is the
        // one the whole run gives.
        std::optional<EEnvelopeError> error;
        if (const CodePageBytes* page = bytesOfCodePage(ownCodePage)) {
            const auto reading = readThrough(bytesOfDigits(hexText), *page, true, true);
            if (reading && 2 * reading->consumed < hexText.size()) {
                try {
                    return openOwn(hexText.substr(0, 2 * reading->consumed));
                } catch (const EEnvelopeError& e) {
                    error = e;
                }
            }
        }
        try {
            return openThroughOthers(hexText, key, ownCodePage, Extent::Prefix);
        } catch (const NoOtherReading&) {
            if (error) throw *error;
            throw whole;
        }
    }
}

std::string textInCodePage(const Received& received, unsigned targetCodePage) {
    if (received.codePage == targetCodePage) return received.text;
    return platform::narrowCodePage(targetCodePage, platform::widenCodePage(received.codePage, received.text));
}

}  // namespace envelope
