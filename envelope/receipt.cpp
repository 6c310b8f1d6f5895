#include "envelope/receipt.h"

#include <algorithm>
#include <iterator>

#include "crypto/wipe.h"
#include "envelope/byte_tables.h"
#include "envelope/text_steps.h"
#include "platform/platform.h"
#include "platform/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace envelope {

namespace {

std::string codePageList(const std::vector<unsigned>& codePages) {
    std::string list;
    for (std::size_t i = 0; i < codePages.size(); ++i) {
        if (i > 0) list += i + 1 == codePages.size() ? " or " : ", ";
        list += std::to_string(codePages[i]);
    }
    return list;
}

// The receiver's own code page, then the others it may have come from.
struct CodePagesToRead {
    unsigned list[std::size(senderCodePages) + 1];
    std::size_t count = 0;
    explicit CodePagesToRead(unsigned own) {
        list[count++] = own;
        for (const unsigned cp : senderCodePages) {
            if (cp != own) list[count++] = cp;
        }
    }
    const unsigned* begin() const { return list; }
    const unsigned* end() const { return list + count; }
};

bool readThrough(std::string_view utf8Bytes, unsigned codePage, std::string& out) {
    try {
        return readStrictly(utf8Bytes, codePage, out);
    } catch (const Exception&) {
        return false;  // a code page this platform does not have
    }
}

// The bytes of the UTF-8 form that begins with `lead`, by the lead alone.
std::size_t formLength(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// Where the character with index n begins, counting the bytes that are no
// continuation bytes; npos when there are not that many.
std::size_t offsetOfCharacter(std::string_view bytes, std::size_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    std::size_t seen = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time while the character lies beyond them.
    for (; at + 16 <= bytes.size(); at += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i follows = _mm_cmpeq_epi8(_mm_and_si128(b, _mm_set1_epi8(static_cast<char>(0xC0))),
                                               _mm_set1_epi8(static_cast<char>(0x80)));
        const auto starts = static_cast<unsigned>(~_mm_movemask_epi8(follows) & 0xFFFF);
        const auto count = static_cast<std::size_t>(__builtin_popcount(starts));
        if (seen + count > n) break;
        seen += count;
    }
#endif
    for (; at < bytes.size(); ++at) {
        if ((p[at] & 0xC0) != 0x80 && seen++ == n) return at;
    }
    return std::string_view::npos;
}

// Why a code page gives no reading.
enum class Unread { No, TooShort, CutShort, Characters };

// The first characters alone: most code pages cannot read an envelope sealed
// on another, and that shows long before its end, and before the full length
// of output is made ready.
bool mayRead(std::string_view utf8Bytes, unsigned codePage, std::string& scratch) {
    constexpr std::size_t kGlance = 32;
    try {
        if (const detail::ByteTables* tables = detail::byteTablesFor(codePage)) {
            return detail::readsFirstForms(utf8Bytes, *tables, kGlance);
        }
    } catch (const Exception&) {
        return false;  // a code page this platform does not have
    }
    std::size_t cut = std::min(utf8Bytes.size(), kGlance);
    while (cut > 0 && cut < utf8Bytes.size() && (static_cast<unsigned char>(utf8Bytes[cut]) & 0xC0) == 0x80) --cut;
    return readThrough(utf8Bytes.substr(0, cut), codePage, scratch);
}

// The envelope at the start of utf8Bytes read through the code page: all of
// them, or as many characters as the length prefix read there asks for.
// `glance`: try its first characters before all of them.
Unread readEnvelope(std::string_view utf8Bytes, unsigned codePage, Extent extent, bool glance, std::string& payload,
                    std::string& scratch, std::size_t& taken) {
    if (extent == Extent::Whole) {
        if ((glance && !mayRead(utf8Bytes, codePage, scratch)) || !readThrough(utf8Bytes, codePage, payload)) {
            return Unread::Characters;
        }
        taken = utf8Bytes.size();
        return payload.size() < 4 ? Unread::TooShort : Unread::No;
    }
    const std::size_t fourth = offsetOfCharacter(utf8Bytes, 3);
    if (fourth == std::string_view::npos) return Unread::TooShort;
    const std::size_t prefixEnd = fourth + formLength(static_cast<unsigned char>(utf8Bytes[fourth]));
    if (prefixEnd > utf8Bytes.size()) return Unread::TooShort;
    if (!readThrough(utf8Bytes.substr(0, prefixEnd), codePage, payload)) return Unread::Characters;
    const std::uint64_t wanted = 4 + cipherSizeFor(lengthPrefixOf(payload));
    if (wanted > utf8Bytes.size()) return Unread::CutShort;
    const std::size_t last = offsetOfCharacter(utf8Bytes, static_cast<std::size_t>(wanted - 1));
    if (last == std::string_view::npos) return Unread::CutShort;
    taken = last + formLength(static_cast<unsigned char>(utf8Bytes[last]));
    if (taken > utf8Bytes.size()) return Unread::CutShort;
    const std::string_view envelope = utf8Bytes.substr(0, taken);
    if ((glance && !mayRead(envelope, codePage, scratch)) || !readThrough(envelope, codePage, payload) ||
        payload.size() != wanted) {
        return Unread::Characters;
    }
    return Unread::No;
}

[[noreturn]] void raiseUnread(Unread why, std::string_view utf8Bytes, Extent extent, unsigned own) {
    switch (why) {
        case Unread::TooShort: throw EEnvelopeError("The envelope is too short to hold a message.");
        case Unread::CutShort:
            throw EEnvelopeError("The envelope is shorter than the message length it declares: copy all of it.");
        case Unread::Characters:
        case Unread::No: break;
    }
    if (extent == Extent::Whole && !utf8::isValid(utf8Bytes)) {
        throw EEnvelopeError("Incomplete or damaged envelope: its digits do not spell valid UTF-8 text.");
    }
    const CodePagesToRead pages(own);
    const std::vector<unsigned> others(pages.begin() + 1, pages.end());
    throw EEnvelopeError("The envelope holds characters that neither code page " + std::to_string(own) +
                         " nor " + codePageList(others) +
                         " has: it is damaged, or was sealed on a code page that Mistlock does not read.");
}

bool isOwn(const Reading& r, unsigned own) { return r.codePages.front() == own; }

// What the key and the fill say of a reading.
enum class Check { DoesNotFit, NoFill, FillNotZero, Verified };

Check checkOf(const Reading& r, const ElAES::Schedule& schedule) {
    const std::string& payload = r.payload;
    const std::uint64_t L = lengthPrefixOf(payload);
    const std::size_t cipher = payload.size() - 4;
    if (cipher == 0 || cipher != cipherSizeFor(L)) return Check::DoesNotFit;
    if (L % 16 == 0) return Check::NoFill;
    ElAES::Block last;
    std::copy(payload.end() - 16, payload.end(), last.begin());
    ElAES::decryptBlock(last, schedule, last);
    bool zero = true;
    for (std::size_t i = L % 16; i < 16; ++i) zero = zero && last[i] == 0;
    ElAES::wipeObject(last);
    return zero ? Check::Verified : Check::FillNotZero;
}

// Whether a code page other than the one the text is taken in reads some of
// its bytes as other characters.
bool readsOtherwise(const std::string& text, unsigned taken, unsigned other) {
    const detail::ByteTables* a = detail::byteTablesFor(taken);
    const detail::ByteTables* b = detail::byteTablesFor(other);
    if (!a || !b) return platform::widenCodePage(taken, text) != platform::widenCodePage(other, text);
    return std::any_of(text.begin(), text.end(), [&](char c) {
        return a->wide[static_cast<unsigned char>(c)] != b->wide[static_cast<unsigned char>(c)];
    });
}

Received opened(const Reading& r, Opened&& o) {
    Received out;
    out.codePage = r.codePages.front();
    out.text = std::move(o.text);
    out.declaredLength = o.declaredLength;
    out.verified = o.declaredLength % 16 != 0;
    out.digits = r.digits;
    for (std::size_t i = 1; i < r.codePages.size(); ++i) {
        if (readsOtherwise(out.text, out.codePage, r.codePages[i])) out.alike.push_back(r.codePages[i]);
    }
    return out;
}

Received open(const Reading& r, const ElAES::Key& key) {
    return opened(r, openPayload(r.payload, key, r.codePages.front()));
}

// openPayload names what is wrong with a reading: the fill, or the length.
[[noreturn]] void raiseWhatIsWrong(const Reading& r, const ElAES::Key& key) {
    open(r, key);
    throw EEnvelopeError("The envelope cannot be opened.");
}

[[noreturn]] void raiseNoFill(const Reading& r) {
    throw EEnvelopeError("The envelope reads only as sealed on code page " + codePageList(r.codePages) +
                         ", and its message, of a multiple of 16 bytes, carries no zero fill to check that reading "
                         "by: it is not opened. An envelope from a current Mistlock carries the check.");
}

// The only reading: openPayload decides.
Received openOnly(const Reading& r, const ElAES::Key& key, unsigned own) {
    Opened o = openPayload(r.payload, key, r.codePages.front());
    if (o.declaredLength % 16 == 0 && !isOwn(r, own)) raiseNoFill(r);
    return opened(r, std::move(o));
}

}  // namespace

ReceivedDigits::ReceivedDigits(std::string_view hexText, unsigned ownCodePage, Extent extent)
    : ownCodePage_(ownCodePage) {
    read(SpelledBytes(hexText), hexText.size(), extent);
}

ReceivedDigits::ReceivedDigits(std::string&& text, std::size_t from, std::size_t count, unsigned ownCodePage,
                               Extent extent)
    : ownCodePage_(ownCodePage) {
    read(SpelledBytes(std::move(text), from, count), count, extent);
}

void ReceivedDigits::read(const SpelledBytes& spelled, std::size_t hexSize, Extent extent) {
    const unsigned ownCodePage = ownCodePage_;
    const std::string_view utf8Bytes = spelled.bytes();
    // Why the receiver's own code page gives no reading, unless the envelope
    // is too short for any.
    Unread unread = Unread::No;
    std::string payload;
    std::string scratch;
    for (const unsigned cp : CodePagesToRead(ownCodePage)) {
        std::size_t taken = 0;
        const bool own = cp == ownCodePage;
        const Unread why = readEnvelope(utf8Bytes, cp, extent, !own, payload, scratch, taken);
        if (own || why == Unread::TooShort) unread = why;
        if (why != Unread::No) continue;
        const auto same = std::find_if(readings_.begin(), readings_.end(),
                                       [&](const Reading& r) { return r.payload == payload; });
        if (same != readings_.end()) {
            same->codePages.push_back(cp);
        } else {
            readings_.push_back({std::move(payload), {cp}, extent == Extent::Whole ? hexSize : 2 * taken});
            payload.clear();
        }
    }
    if (readings_.empty()) raiseUnread(unread, utf8Bytes, extent, ownCodePage);
}

Received openReceived(const ReceivedDigits& digits, const ElAES::Key& key) {
    const std::vector<Reading>& readings = digits.readings();
    const unsigned own = digits.ownCodePage();
    if (readings.size() == 1) return openOnly(readings.front(), key, own);

    ElAES::Schedule schedule;
    const ElAES::WipeOnExit wipeSchedule(schedule);
    ElAES::buildDecryptionSchedule(key, schedule);
    std::vector<const Reading*> verified;
    const Reading* wrongFill = nullptr;
    const Reading* noFill = nullptr;
    for (const Reading& r : readings) {
        switch (checkOf(r, schedule)) {
            case Check::Verified: verified.push_back(&r); break;
            case Check::FillNotZero:
                if (!wrongFill) wrongFill = &r;
                break;
            case Check::NoFill:
                if (!noFill || isOwn(r, own)) noFill = &r;
                break;
            case Check::DoesNotFit: break;
        }
    }
    if (verified.size() > 1) {
        throw EEnvelopeError("The envelope opens through code page " + std::to_string(verified[0]->codePages.front()) +
                             " and through " + std::to_string(verified[1]->codePages.front()) +
                             " to different messages: it cannot be told which one was sent.");
    }
    if (verified.size() == 1) return open(*verified.front(), key);
    if (wrongFill) raiseWhatIsWrong(*wrongFill, key);
    if (noFill) return openOnly(*noFill, key, own);
    const auto ownReading = std::find_if(readings.begin(), readings.end(),
                                         [&](const Reading& r) { return isOwn(r, own); });
    raiseWhatIsWrong(ownReading != readings.end() ? *ownReading : readings.front(), key);
}

Received openReceived(std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent) {
    return openReceived(ReceivedDigits(hexText, ownCodePage, extent), key);
}

std::string textInCodePage(const Received& received, unsigned targetCodePage) {
    if (received.codePage == targetCodePage) return received.text;
    return platform::narrowCodePage(targetCodePage, platform::widenCodePage(received.codePage, received.text));
}

}  // namespace envelope
