// Opening envelopes: the hex digits, the UTF-8 and code-page steps, the length
// prefix and the cipher, with keys taken from the input, under both code pages.
//
// The first byte picks the code page and where the key comes from (32 raw
// bytes, a key text, or the all-zero key); the second how the rest is used:
// as the text after the marker (opened whole and in its two steps), as a raw
// payload, or as a message to seal and open again.
//
// Checked: only EEnvelopeError leaves the envelope functions; opening in one
// step and in two agree; a decoded text survives being encoded and decoded
// again; encoding gives an even number of uppercase hex digits; what is sealed
// opens to the same bytes less trailing zeros, with the length it declared.
#include <cstdint>
#include <string>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/receipt.h"
#include "envelope/text_steps.h"
#include "fuzz/support/fuzz_support.h"
#include "platform/platform.h"

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

    // Through the other code pages: only EEnvelopeError leaves; what opens
    // through the receiver's own code page is read there; a glued run ends
    // within itself.
    for (const auto extent : {envelope::Extent::Whole, envelope::Extent::Prefix}) {
        try {
            const envelope::Received r = envelope::openReceived(hexText, key, codePage, extent);
            FUZZ_CHECK(r.digits <= hexText.size(), hexText);
            FUZZ_CHECK(r.text.empty() || r.text.back() != '\0', hexText);
            if (whole.opened && extent == envelope::Extent::Whole) {
                FUZZ_CHECK(r.codePage == codePage && r.text == whole.value.text, hexText);
            }
        } catch (const envelope::EEnvelopeError&) {
            FUZZ_CHECK(!(whole.opened && extent == envelope::Extent::Whole), hexText);
        } catch (const std::exception& e) {
            fail("openReceived raised something other than EEnvelopeError", e.what());
        }
    }
}

void openPayload(const std::string& payload, const ElAES::Key& key, unsigned codePage) {
    if (payload.size() < 4) return;  // payloadOf never hands on less
    const Outcome out = attempt([&] { return envelope::openPayload(payload, key, codePage); });
    if (!out.opened) return;
    FUZZ_CHECK(out.value.text.size() <= payload.size() - 4, hex(payload));
    FUZZ_CHECK(out.value.text.empty() || out.value.text.back() != '\0', hex(payload));
}

// The zero fill checks the last block only (each block is enciphered on its
// own). A third code page that reads the sender's envelope with the same
// length prefix and the same last block but other bytes before it verifies
// as well as the sender's, and the receiver must then refuse to choose.
bool aThirdReadingVerifiesToo(const std::string& foreign, unsigned sender) {
    const std::string sent = envelope::payloadOf(foreign, sender);
    for (const unsigned cp : envelope::senderCodePages) {
        if (cp == sender) continue;
        std::string read;
        try {
            read = envelope::payloadOf(foreign, cp);
        } catch (const std::exception&) {
            continue;  // a code page this platform lacks
        }
        if (read != sent && read.size() == sent.size() && read.size() >= 20 &&
            read.compare(0, 4, sent, 0, 4) == 0 && read.compare(read.size() - 16, 16, sent, sent.size() - 16, 16) == 0) {
            return true;
        }
    }
    return false;
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

    // Sealed on the other code page, glued to hex-looking text: with four or
    // more bytes of zero fill no wrong reading passes but by a 2^-32 chance,
    // so it opens to the same bytes, and ends where it ends; unless a third
    // code page reads its last block alike, when it must not open at all.
    const unsigned other = codePage == 1251 ? 1252 : 1251;
    const std::string foreign = envelope::seal(message, key, other).substr(envelope::marker.size());
    try {
        const auto r = envelope::openReceived(foreign + "deadbeef", key, codePage, envelope::Extent::Prefix);
        FUZZ_CHECK(r.text == expected && r.verified, hex(message) + " through " + std::to_string(r.codePage));
        // Through our own code page only when every character of the
        // envelope is one both code pages give the same byte (the fuzzer
        // finds such ciphertexts): the same payload either way.
        FUZZ_CHECK(r.codePage == other || envelope::payloadOf(foreign, codePage) == envelope::payloadOf(foreign, other),
                   hex(message));
        FUZZ_CHECK(r.digits == foreign.size(), hex(message));
    } catch (const std::exception& e) {
        FUZZ_CHECK(aThirdReadingVerifiesToo(foreign, other),
                   "an envelope from the other code page did not open: " + std::string(e.what()) + " for " +
                       hex(message));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    const unsigned codePage = flags & 1 ? 1252 : 1251;
    const ElAES::Key key = keyFrom(in, static_cast<std::uint8_t>(flags >> 1));
    const std::uint8_t mode = in.byte();
    const std::string rest = in.rest();
    switch (mode % 3) {
        case 0: openText(rest, key, codePage); break;
        case 1: openPayload(rest, key, codePage); break;
        case 2: sealAndOpen(rest, key, codePage); break;
    }
    return 0;
}
