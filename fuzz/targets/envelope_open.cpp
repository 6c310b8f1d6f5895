// Opening envelopes: the hex digits, the UTF-8 and code-page steps, the length
// prefix and the cipher, with keys taken from the input, under both code pages.
//
// The first byte picks the code page and where the key comes from (32 raw
// bytes, a key text, or the all-zero key); the second how the rest is used:
// as the text after the marker (opened whole and in its two steps), as a raw
// payload, or as a message to seal and open again; or for the sealed
// envelope, as the text after its marker, or as a nonce and a message to
// seal, open again and change.
//
// Checked: only EEnvelopeError leaves the envelope functions; opening in one
// step and in two agree; a decoded text survives being encoded and decoded
// again; encoding gives an even number of uppercase hex digits; what is sealed
// opens to the same bytes less trailing zeros, with a length that counts the
// zero bytes of checked sealing, and under no wrong key.
//
// Across code pages, against readings worked out here with the envelope's
// steps one code page at a time: a reading is one whose digits the code page
// gives back as they were; openReceived opens the one reading that verifies,
// refuses when two verify to other bytes or when a fill fails with none
// verified, opens unverified only through the receiver's own code page, and
// names the code pages that read the same bytes as other characters. Glued
// text ends where the envelope ends, and reads as the envelope alone does.
// What another code page sealed opens to its bytes, in the sender's
// characters or with the sender named, unless another reading verifies too.
//
// Sealed envelopes: only EEnvelopeError leaves; base64url that decodes is the
// one form of its bytes; what is sealed is as long as its padded UTF-8 says,
// opens to the same bytes and to their UTF-8, and is refused with any one
// character changed or under another key.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "envelope/base64url.h"
#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/receipt.h"
#include "envelope/sealed.h"
#include "envelope/text_steps.h"
#include "fuzz/support/fuzz_support.h"
#include "platform/platform.h"
#include "platform/utf8.h"

using namespace fuzzing;

namespace {

struct Outcome {
    bool opened = false;
    envelope::Opened value;
    std::string error;
};

template <typename F>
Outcome attempt(F&& open) {
    Outcome out;
    try {
        out.value = open();
        out.opened = true;
    } catch (const envelope::EEnvelopeError& e) {
        out.error = e.what();
    } catch (const std::exception& e) {
        fail("an envelope failure that is not EEnvelopeError", e.what());
    }
    return out;
}

ElAES::Key keyFrom(Input& in, std::uint8_t how) {
    ElAES::Key key{};
    switch (how % 3) {
        case 0: {
            const std::string raw = in.bytes(32);
            for (std::size_t i = 0; i < raw.size(); ++i) key[i] = static_cast<std::uint8_t>(raw[i]);
            break;
        }
        case 1: key = envelope::keyBlockFromText(platform::widen(in.shortString())); break;
        case 2: break;  // the empty password's all-zero key
    }
    return key;
}

bool isUpperHex(const std::string& digits) {
    if (digits.size() % 2 != 0) return false;
    for (const char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

void checkHexRoundTrip(const std::string& hexText, unsigned codePage) {
    std::string decoded;
    try {
        decoded = envelope::hexDecode(hexText, codePage);
    } catch (const envelope::EEnvelopeError&) {
        return;
    } catch (const std::exception& e) {
        fail("hexDecode raised something other than EEnvelopeError", e.what());
    }
    const std::string again = envelope::hexEncode(decoded, codePage);
    FUZZ_CHECK(isUpperHex(again), again);
    try {
        FUZZ_CHECK(envelope::hexDecode(again, codePage) == decoded, hex(decoded));
    } catch (const std::exception& e) {
        fail("hexEncode gave digits that hexDecode refuses", std::string(e.what()) + ": " + again);
    }
}

// ---- Readings worked out one code page at a time ----------------------------

// The code page's reading of the digits: the payload, when the code page
// gives the same digits back (every character is one of its own).
std::optional<std::string> readingThrough(const std::string& hexText, unsigned codePage) {
    std::string payload;
    try {
        payload = envelope::hexDecode(hexText, codePage);
    } catch (const std::exception&) {
        return std::nullopt;  // no digits, no UTF-8, or a code page this platform lacks
    }
    if (envelope::hexEncode(payload, codePage) != upper(hexText.substr(0, hexText.size() / 2 * 2))) return std::nullopt;
    return payload;
}

struct Reading {
    std::string payload;
    std::vector<unsigned> codePages;
    std::uint64_t length = 0;
    bool fits = false;
    std::optional<envelope::Opened> opened;  // under the key
};

std::vector<Reading> readingsOf(const std::string& hexText, const ElAES::Key& key, unsigned own) {
    std::vector<unsigned> order{own};
    for (const unsigned cp : envelope::senderCodePages) {
        if (cp != own) order.push_back(cp);
    }
    std::vector<Reading> readings;
    for (const unsigned cp : order) {
        auto payload = readingThrough(hexText, cp);
        if (!payload || payload->size() < 4) continue;
        auto same = std::find_if(readings.begin(), readings.end(), [&](const Reading& r) { return r.payload == *payload; });
        if (same != readings.end()) {
            same->codePages.push_back(cp);
            continue;
        }
        Reading r;
        r.payload = *payload;
        r.codePages = {cp};
        for (int i = 3; i >= 0; --i) r.length = r.length << 8 | static_cast<unsigned char>(r.payload[i]);
        r.fits = r.payload.size() > 4 && r.payload.size() - 4 == (r.length + 15) / 16 * 16;
        try {
            r.opened = envelope::openPayload(r.payload, key, cp);
        } catch (const envelope::EEnvelopeError&) {
        }
        readings.push_back(std::move(r));
    }
    return readings;
}

bool verifies(const Reading& r) { return r.opened && r.length % 16 != 0; }

// What the receiver must make of the whole digits: the reading it opens, or
// null for a refusal.
const Reading* expectedOpening(const std::vector<Reading>& readings, unsigned own) {
    const auto verified = std::count_if(readings.begin(), readings.end(), verifies);
    if (verified > 1) return nullptr;
    if (verified == 1) return &*std::find_if(readings.begin(), readings.end(), verifies);
    for (const Reading& r : readings) {
        if (r.fits && r.length % 16 != 0) return nullptr;  // a fill that failed
    }
    for (const Reading& r : readings) {
        if (r.codePages.front() == own && r.opened) return &r;
    }
    return nullptr;
}

std::vector<unsigned> readAlikeAsOtherCharacters(const Reading& r, const std::string& text) {
    std::vector<unsigned> alike;
    for (std::size_t i = 1; i < r.codePages.size(); ++i) {
        if (platform::widenCodePage(r.codePages[i], text) != platform::widenCodePage(r.codePages.front(), text)) {
            alike.push_back(r.codePages[i]);
        }
    }
    return alike;
}

std::optional<envelope::Received> received(const std::string& hexText, const ElAES::Key& key, unsigned codePage,
                                           envelope::Extent extent) {
    try {
        return envelope::openReceived(hexText, key, codePage, extent);
    } catch (const envelope::EEnvelopeError&) {
        return std::nullopt;
    } catch (const std::exception& e) {
        fail("openReceived raised something other than EEnvelopeError", e.what());
    }
}

void openAcrossCodePages(const std::string& hexText, const ElAES::Key& key, unsigned codePage) {
    const auto readings = readingsOf(hexText, key, codePage);
    const Reading* expected = expectedOpening(readings, codePage);
    const auto whole = received(hexText, key, codePage, envelope::Extent::Whole);
    FUZZ_CHECK(whole.has_value() == (expected != nullptr), hexText);
    if (whole) {
        FUZZ_CHECK(whole->codePage == expected->codePages.front(), hexText);
        FUZZ_CHECK(whole->text == expected->opened->text, hexText);
        FUZZ_CHECK(whole->verified == (expected->length % 16 != 0), hexText);
        FUZZ_CHECK(whole->alike == readAlikeAsOtherCharacters(*expected, whole->text), hexText);
        FUZZ_CHECK(whole->digits == hexText.size(), hexText);
    }
    const auto glued = received(hexText, key, codePage, envelope::Extent::Prefix);
    if (glued) {
        FUZZ_CHECK(glued->digits <= hexText.size() && glued->digits % 2 == 0, hexText);
        const auto alone = received(hexText.substr(0, glued->digits), key, codePage, envelope::Extent::Whole);
        FUZZ_CHECK(alone && alone->text == glued->text && alone->codePage == glued->codePage &&
                       alone->verified == glued->verified,
                   hexText);
    }
}

// ---- The modes --------------------------------------------------------------

void openText(const std::string& hexText, const ElAES::Key& key, unsigned codePage) {
    const Outcome whole = attempt([&] { return envelope::open(hexText, key, codePage); });
    const Outcome inSteps = attempt([&] {
        const std::string payload = envelope::payloadOf(hexText, codePage);
        return envelope::openPayload(payload, key, codePage);
    });
    FUZZ_CHECK(whole.opened == inSteps.opened && whole.error == inSteps.error, hexText);
    if (whole.opened) {
        FUZZ_CHECK(whole.value.text == inSteps.value.text, hexText);
        FUZZ_CHECK(whole.value.text.empty() || whole.value.text.back() != '\0', hexText);
        FUZZ_CHECK(whole.value.text.size() <= whole.value.declaredLength, hexText);
    }
    checkHexRoundTrip(hexText, codePage);
    openAcrossCodePages(hexText, key, codePage);
}

void openPayload(const std::string& payload, const ElAES::Key& key, unsigned codePage) {
    if (payload.size() < 4) return;  // payloadOf never hands on less
    const Outcome out = attempt([&] { return envelope::openPayload(payload, key, codePage); });
    if (!out.opened) return;
    FUZZ_CHECK(out.value.text.size() <= payload.size() - 4, hex(payload));
    FUZZ_CHECK(out.value.text.empty() || out.value.text.back() != '\0', hex(payload));
}

void sealAndOpen(const std::string& message, const ElAES::Key& key, unsigned codePage) {
    const std::string sealed = envelope::seal(message, key, codePage);
    FUZZ_CHECK(envelope::hasMarker(sealed), sealed);
    const std::string digits = sealed.substr(envelope::marker.size());
    FUZZ_CHECK(isUpperHex(digits), sealed);
    const Outcome out = attempt([&] { return envelope::open(digits, key, codePage); });
    if (message.empty()) {
        // The empty message seals to the bare length prefix, which no
        // receiver can open.
        FUZZ_CHECK(!out.opened, sealed);
        return;
    }
    FUZZ_CHECK(out.opened, out.error + " for " + hex(message));
    std::string expected = message;
    while (!expected.empty() && expected.back() == '\0') expected.pop_back();
    FUZZ_CHECK(out.value.text == expected, hex(message) + " came back as " + hex(out.value.text));
    // The length prefix counts the fewest zero bytes that leave four or more
    // bytes of zero fill.
    std::uint32_t checked = static_cast<std::uint32_t>(message.size());
    while (checked % 16 == 0 || checked % 16 > 12) ++checked;
    FUZZ_CHECK(out.value.declaredLength == checked, hex(message));
    // Lowercase digits open the same way.
    std::string lower = digits;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    const Outcome lowered = attempt([&] { return envelope::open(lower, key, codePage); });
    FUZZ_CHECK(lowered.opened && lowered.value.text == expected, lower);

    // Four bytes of fill or more: a wrong key passes with odds of 2^-32.
    ElAES::Key wrong = key;
    wrong[0] ^= 1;
    FUZZ_CHECK(!attempt([&] { return envelope::open(digits, wrong, codePage); }).opened, hex(message));
    FUZZ_CHECK(!received(digits, wrong, codePage, envelope::Extent::Whole), hex(message));

    // Sealed on the other code page, glued to hex-looking text: it opens to
    // the same bytes, in the sender's characters or with the sender named
    // among those that read it alike, and ends where it ends; unless another
    // code page's reading verifies too, to other bytes.
    const unsigned other = codePage == 1251 ? 1252 : 1251;
    const std::string foreign = envelope::seal(message, key, other).substr(envelope::marker.size());
    const auto r = received(foreign + "deadbeef", key, codePage, envelope::Extent::Prefix);
    if (!r) {
        const auto readings = readingsOf(foreign, key, codePage);
        FUZZ_CHECK(std::count_if(readings.begin(), readings.end(), verifies) > 1,
                   "an envelope from the other code page did not open: " + hex(message));
        return;
    }
    FUZZ_CHECK(r->text == expected && r->verified, hex(message) + " through " + std::to_string(r->codePage));
    FUZZ_CHECK(r->codePage == other || std::count(r->alike.begin(), r->alike.end(), other) == 1 ||
                   platform::widenCodePage(r->codePage, expected) == platform::widenCodePage(other, expected),
               hex(message) + " through " + std::to_string(r->codePage));
    FUZZ_CHECK(r->digits == foreign.size(), hex(message));
}

// ---- Sealed envelopes ---------------------------------------------------------

namespace sealed = envelope::sealed;

// The text after the marker, or "refused".
std::string openedSealed(const std::string& text, const ElAES::Key& key, unsigned codePage) {
    try {
        return hex(sealed::open(sealed::Received(text), key, codePage));
    } catch (const envelope::EEnvelopeError&) {
        return "refused";
    } catch (const std::exception& e) {
        fail("a sealed envelope's failure that is not EEnvelopeError", e.what());
    }
}

void openSealedText(const std::string& text, const ElAES::Key& key, unsigned codePage) {
    openedSealed(text, key, codePage);
    std::string bytes;
    if (!envelope::appendBase64urlBytes(bytes, text)) return;
    std::string again;
    envelope::appendBase64url(again, bytes);
    FUZZ_CHECK(again == text, text);
}

void sealAndOpenSealed(Input& in, const ElAES::Key& key, unsigned codePage) {
    sealed::Nonce nonce{};
    const std::string nonceBytes = in.bytes(nonce.size());
    std::copy(nonceBytes.begin(), nonceBytes.end(), nonce.begin());
    const std::uint8_t change = in.byte();
    const std::string message = in.rest();
    const std::string envelope = sealed::sealWithNonce(message, key, codePage, nonce);
    FUZZ_CHECK(sealed::hasMarker(envelope), envelope);
    const std::string text = envelope.substr(sealed::marker.size());
    const std::string utf8 = utf8::encode(platform::widenCodePage(codePage, message));
    const std::size_t bytes = 1 + nonce.size() + (utf8.size() + 1 + 31) / 32 * 32 + 16;
    FUZZ_CHECK(text.size() == (4 * bytes + 2) / 3, envelope);
    // Both code pages give every byte back as it was.
    FUZZ_CHECK(openedSealed(text, key, codePage) == hex(message), hex(message));
    FUZZ_CHECK(sealed::openToUtf8(sealed::Received(text), key) == utf8, hex(message));

    ElAES::Key wrong = key;
    wrong[change % wrong.size()] ^= 1;
    FUZZ_CHECK(openedSealed(text, wrong, codePage) == "refused", hex(message));
    std::string changed = text;
    const std::size_t at = (static_cast<std::size_t>(change) * 7919) % changed.size();
    changed[at] = changed[at] == 'A' ? 'B' : 'A';
    FUZZ_CHECK(openedSealed(changed, key, codePage) == "refused", changed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    const unsigned codePage = flags & 1 ? 1252 : 1251;
    const ElAES::Key key = keyFrom(in, static_cast<std::uint8_t>(flags >> 1));
    const std::uint8_t mode = in.byte();
    if (mode % 5 == 4) {
        sealAndOpenSealed(in, key, codePage);
        return 0;
    }
    const std::string rest = in.rest();
    switch (mode % 5) {
        case 0: openText(rest, key, codePage); break;
        case 1: openPayload(rest, key, codePage); break;
        case 2: sealAndOpen(rest, key, codePage); break;
        case 3: openSealedText(rest, key, codePage); break;
    }
    return 0;
}
