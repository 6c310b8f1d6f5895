// Sealed envelopes that another implementation made (tests/data/sealed/
// vectors.tsv, from make_vectors.mjs on Node's HKDF and AES-256-GCM): under
// the vector's nonce the product seals those very bytes, so whatever reads
// them reads what the product seals; they open to the bytes worked out there
// for this run's code page; the refused ones are refused; and all of it
// through pluginFun too, with the nonce replayed through the random source's
// test seam. Built into envelope_golden, so it runs in that program's
// configurations: both code pages, the cipher path chosen and the portable
// one, natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "envelope/sealed.h"
#include "platform/platform.h"
#include "platform/test_seams.h"
#include "tests/envelope/sealed_vectors.h"
#include "tests/support/test_messenger.h"

using namespace envelope_test;
using namespace testing_records;
namespace sealed = envelope::sealed;

namespace {

const std::string kSealedMarker = "#MSTLK2:";
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// A vector as this run's code page has it.
struct Vector : SealedVector {
    explicit Vector(const SealedVector& v) : SealedVector(v), onThisPage(v.onPage(platform::ansiCodePage())) {}
    std::string onThisPage;
    // The message is all in this code page: no character of it became '?'.
    bool whole() const {
        return std::count(onThisPage.begin(), onThisPage.end(), '?') == std::count(utf8.begin(), utf8.end(), '?');
    }
};

std::vector<Vector> vectors() {
    const auto all = sealedVectors();
    return std::vector<Vector>(all.begin(), all.end());
}

sealed::Nonce nonceOf(const std::string& bytes) {
    sealed::Nonce nonce{};
    EXPECT_EQ(bytes.size(), nonce.size());
    std::copy(bytes.begin(), bytes.end(), nonce.begin());
    return nonce;
}

// What the product opens an envelope to on this code page, or "refused".
std::string openedBy(const std::string& envelope, const ElAES::Key& key) {
    try {
        return hex(sealed::open(sealed::Received(envelope.substr(kSealedMarker.size())), key, platform::ansiCodePage()));
    } catch (const envelope::EEnvelopeError&) {
        return "refused";
    }
}

TEST(SealedEnvelopes, IndependentVectorsUnderThisCodePageAndCipherPath) {
    const unsigned cp = platform::ansiCodePage();
    for (const Vector& v : vectors()) {
        SCOPED_TRACE(v.name);
        const ElAES::SecretKey key = sealed::keyFromText(v.keyText());
        if (!v.opens) {
            EXPECT_EQ(openedBy(v.envelope, key), "refused");
            continue;
        }
        if (v.whole()) {
            EXPECT_EQ(sealed::sealWithNonce(v.onThisPage, key, cp, nonceOf(v.nonce)), v.envelope);
        }
        EXPECT_EQ(openedBy(v.envelope, key), hex(v.onThisPage));
        EXPECT_EQ(hex(sealed::openToUtf8(sealed::Received(v.envelope.substr(kSealedMarker.size())), key)), hex(v.utf8));
    }
}

// Every character after the marker in turn, changed to the next character
// of the alphabet, to one outside it, or dropped.
TEST(SealedEnvelopes, AnEnvelopeWithAnyCharacterChangedIsRefused) {
    std::size_t tried = 0;
    for (const Vector& v : vectors()) {
        if (v.name != "Hi" && v.name != "33 ASCII bytes" && v.name != "Cyrillic text") continue;
        SCOPED_TRACE(v.name);
        const ElAES::SecretKey key = sealed::keyFromText(v.keyText());
        ASSERT_NE(openedBy(v.envelope, key), "refused");
        for (std::size_t at = kSealedMarker.size(); at < v.envelope.size(); ++at) {
            const char next = kAlphabet[(std::string(kAlphabet).find(v.envelope[at]) + 1) % 64];
            for (const std::string& changed : {v.envelope.substr(0, at) + next + v.envelope.substr(at + 1),
                                               v.envelope.substr(0, at) + '.' + v.envelope.substr(at + 1),
                                               v.envelope.substr(0, at) + v.envelope.substr(at + 1)}) {
                ASSERT_EQ(openedBy(changed, key), "refused") << "at " << at << ": " << changed;
                ++tried;
            }
        }
    }
    EXPECT_GT(tried, 3u * 3 * 80);
}

// ---- Through pluginFun ---------------------------------------------------------

const std::string kKeyText = "correct horse battery staple";

std::string utf16le(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) out += std::string{c, '\0'};
    return out;
}

// As `mistlock keygen --sealed` writes a key file: UTF-16LE with its mark.
std::string sealedKeyFile(const std::string& keyText) {
    return "\xFF\xFE" + utf16le(keyText + "\r\nMistlock key file: the first line is the key.\r\nMistlock-Sealed: 2\r\n");
}

struct Plugin {
    explicit Plugin(const std::string& ini, const std::string& keyFile = sealedKeyFile(kKeyText)) {
        folder.write("Mistlock.ini", ini);
        folder.write("MistlockWho.ini", "12345\r\n");
        if (!keyFile.empty()) folder.write("k.key", keyFile);
        EXPECT_NE(plugin.initialise(folder.hostPath()), nullptr);
    }
    // The text the host is to show, or "null".
    std::string received(const std::string& text) {
        const void* reply = plugin.call(messageReceived(text, 12345));
        return reply ? replyString(reply, 0) : "null";
    }
    // The error line and CR LF, as a classic envelope that does not open gives them.
    std::string errorLine() {
        const std::string shown = received("#MSTLK:");
        return shown.substr(0, shown.size() - 7);
    }
    std::string sent(const std::string& text) {
        const void* reply = plugin.call(messageToSend(12345, text));
        return reply ? replyString(reply, 0) : "null";
    }
    test_messenger::TempFolder folder;
    test_messenger::TestMessenger plugin;
};

const std::string kKeyFileIni = "on\r\nfile_check\r\n\r\nk.key\r\n";

TEST(SealedEnvelopes, ThroughPluginFun) {
    Plugin p(kKeyFileIni);
    const std::string errorLine = p.errorLine();
    std::size_t sealedAlike = 0;
    for (const Vector& v : vectors()) {
        if (v.keyText() != std::u16string(kKeyText.begin(), kKeyText.end())) continue;
        SCOPED_TRACE(v.name);
        if (!v.opens) {
            EXPECT_EQ(hex(p.received(v.envelope)), hex(errorLine + v.envelope));
            continue;
        }
        EXPECT_EQ(hex(p.received(v.envelope)), hex(v.onThisPage));
        if (!v.whole()) continue;
        platform::seams::replayRandomBytes(v.nonce);
        EXPECT_EQ(p.sent(v.onThisPage), v.envelope);
        ++sealedAlike;
    }
    EXPECT_GE(sealedAlike, 10u);
    // A fresh nonce each time: the same message twice gives two envelopes,
    // each of which opens.
    const std::string message = "Meet at 8, gate 4";
    const std::string first = p.sent(message), second = p.sent(message);
    EXPECT_EQ(first.rfind(kSealedMarker, 0), 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(p.received(first), message);
    EXPECT_EQ(p.received(second), message);
    EXPECT_TRUE(p.plugin.boxes.boxes().empty());
}

// What opens a sealed envelope: a sealed key file, and nothing else.
TEST(SealedEnvelopes, OnlyASealedKeyFileOpensThem) {
    const Vector hi = vectors()[1];
    ASSERT_EQ(hi.name, "Hi");
    const std::string marked = "\xFF\xFE" + utf16le(kKeyText + "\r\nMistlock-Sealed: 2");
    struct Case {
        const char* name;
        std::string ini, keyFile, envelope;
        std::string shown;  // "error", "null" or the text
        std::size_t boxes;
    } cases[] = {
        {"sealed key file, the line last without a break", kKeyFileIni, marked, hi.envelope, "Hi", 0},
        {"the password", "on\r\npass_check\r\n" + kKeyText + "\r\n\r\n", "", hi.envelope, "error", 0},
        {"a classic key file", kKeyFileIni, kKeyText + "\r\n", hi.envelope, "error", 0},
        {"a blank after the line", kKeyFileIni, kKeyText + "\r\nMistlock-Sealed: 2 \r\n", hi.envelope, "error", 0},
        {"the line as the first", kKeyFileIni, "Mistlock-Sealed: 2\r\n" + kKeyText + "\r\n", hi.envelope, "error", 0},
        {"beyond the 4 KiB read", kKeyFileIni, kKeyText + "\r\n" + std::string(4070, '#') + "\r\nMistlock-Sealed: 2\r\n",
         hi.envelope, "error", 0},
        {"ANSI key file, lone CR and LF", kKeyFileIni, kKeyText + "\rnotes\nMistlock-Sealed: 2\n", hi.envelope, "Hi", 0},
        {"key file missing", kKeyFileIni, "", hi.envelope, "null", 1},
        {"key file missing, not base64url", kKeyFileIni, "", hi.envelope + "=", "error", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Plugin p(c.ini, c.keyFile);
        const std::string shown = p.received(c.envelope);
        EXPECT_EQ(p.plugin.boxes.boxes().size(), c.boxes);
        EXPECT_EQ(hex(shown), hex(c.shown == "error" ? p.errorLine() + c.envelope : c.shown));
    }
}

}  // namespace
