// Sealed envelopes that another implementation made (sealed_vectors.h): under
// the vector's nonce the product seals those very bytes, so that whatever
// reads them reads what the product seals; they open to the bytes worked out
// there for this run's code page, and the refused ones, or any one character
// changed, are refused. The same through pluginFun, the nonce replayed
// through the random source's test seam, with every kind of key source. Built
// into envelope_golden: both code pages, both cipher paths, under Wine too.
#include <gtest/gtest.h>

#include <set>

#include "envelope/sealed.h"
#include "platform/test_seams.h"
#include "tests/envelope/sealed_vectors.h"
#include "tests/support/test_messenger.h"

using namespace envelope_test;
using namespace testing_records;
namespace sealed = envelope::sealed;

namespace {

// What the product opens an envelope to on this code page, or "refused".
std::string openedBy(const std::string& envelope, const ElAES::Key& key) {
    try {
        return hex(sealed::open(sealed::Received(envelope.substr(8)), key, platform::ansiCodePage()));
    } catch (const envelope::EEnvelopeError&) {
        return "refused";
    }
}

TEST(SealedEnvelopes, IndependentVectorsUnderThisCodePageAndCipherPath) {
    for (const SealedVector& v : sealedVectors()) {
        SCOPED_TRACE(v.name);
        const ElAES::SecretKey key = sealed::keyFromText(v.keyText());
        EXPECT_EQ(openedBy(v.envelope, key), v.opens ? hex(v.onPage) : "refused");
        if (!v.opens || !v.whole()) continue;
        sealed::Nonce nonce;
        std::copy(v.nonce.begin(), v.nonce.end(), nonce.begin());
        EXPECT_EQ(sealed::sealWithNonce(v.onPage, key, platform::ansiCodePage(), nonce), v.envelope);
        EXPECT_EQ(hex(sealed::openToUtf8(sealed::Received(v.envelope.substr(8)), key)), hex(v.utf8));
    }
}

// Every character after the marker in turn: the next one of the alphabet,
// one outside it, or none.
TEST(SealedEnvelopes, AnEnvelopeWithAnyCharacterChangedIsRefused) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    for (const char* name : {"Hi", "33 ASCII bytes", "Cyrillic text"}) {
        const SealedVector v = sealedVector(name);
        const ElAES::SecretKey key = sealed::keyFromText(v.keyText());
        ASSERT_EQ(openedBy(v.envelope, key), hex(v.onPage)) << name;
        for (std::size_t at = 8; at < v.envelope.size(); ++at) {
            const std::string before = v.envelope.substr(0, at), after = v.envelope.substr(at + 1);
            const char next = alphabet[(alphabet.find(v.envelope[at]) + 1) % 64];
            for (const std::string& changed : {before + next + after, before + '.' + after, before + after}) {
                ASSERT_EQ(openedBy(changed, key), "refused") << name << " at " << at << ": " << changed;
            }
        }
    }
}

// ---- Through pluginFun ------------------------------------------------------------

const std::string kKeyText = "correct horse battery staple";
const std::string kKeyFileIni = "on\r\nfile_check\r\n\r\nk.key\r\n";

// The text the host is to show for a received text, or "null".
std::string shown(test_messenger::TestMessenger& plugin, const std::string& received) {
    const void* reply = plugin.call(messageReceived(received, 12345));
    return reply ? replyString(reply, 0) : "null";
}

// The error line and CR LF, as a classic envelope that does not open gives them.
std::string errorLine(test_messenger::TestMessenger& plugin) {
    const std::string line = shown(plugin, "#MSTLK:");
    return line.substr(0, line.size() - 7);
}

TEST(SealedEnvelopes, ThroughPluginFunWithEveryKeySource) {
    std::string utf16;  // as keygen --sealed writes the file, after the mark
    for (const char c : kKeyText + "\r\nnotes\r\nMistlock-Sealed: 2\r\n") utf16 += std::string{c, '\0'};
    const struct {
        const char* name;
        std::string ini, keyFile;  // no key file when empty
        const char* opens;         // "all" the vectors, "none" (the error line), or "null" (a box)
    } sources[] = {
        {"sealed key file in UTF-16", kKeyFileIni, "\xFF\xFE" + utf16, "all"},
        {"sealed key file in the code page, lone CR and LF", kKeyFileIni, kKeyText + "\rx\nMistlock-Sealed: 2", "all"},
        {"the password", "on\r\npass_check\r\n" + kKeyText + "\r\n\r\n", "", "none"},
        {"a classic key file", kKeyFileIni, kKeyText + "\r\n", "none"},
        {"a blank after the line", kKeyFileIni, kKeyText + "\r\nMistlock-Sealed: 2 \r\n", "none"},
        {"the line first", kKeyFileIni, "Mistlock-Sealed: 2\r\n" + kKeyText + "\r\n", "none"},
        {"the line beyond 4 KiB", kKeyFileIni, kKeyText + "\r\n" + std::string(4070, '#') + "\r\nMistlock-Sealed: 2", "none"},
        {"no key file", kKeyFileIni, "", "null"},
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.name);
        test_messenger::TempFolder folder;
        folder.write("Mistlock.ini", source.ini);
        folder.write("MistlockWho.ini", "12345\r\n");
        if (!source.keyFile.empty()) folder.write("k.key", source.keyFile);
        test_messenger::TestMessenger plugin;
        ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
        const std::string error = errorLine(plugin);
        for (const SealedVector& v : sealedVectors()) {
            if (v.keyText() != std::u16string(kKeyText.begin(), kKeyText.end())) continue;
            const bool opens = v.opens && std::string(source.opens) == "all";
            // What is refused by its form alone (the text, the version, the length) is
            // refused before the key file is looked for; the rest needs the key.
            const std::set<std::string> byForm = {"prefix alone", "base64 padding", "standard base64 alphabet",
                                                  "a blank inside", "unused bits set", "cut by one character",
                                                  "cut by a whole block", "16-byte plain text, authentic", "version byte changed",
                                                  "version 3, authentic"};
            const bool box = std::string(source.opens) == "null" && !byForm.count(v.name);
            // A box says why when the key file is wanted and missing. (Counted as
            // "one or more": under Windows a box that loses and regains the focus
            // to another test's window on the shared display is seen twice.)
            const std::size_t boxesBefore = plugin.boxes.boxes().size();
            EXPECT_EQ(hex(shown(plugin, v.envelope)), box ? hex("null") : opens ? hex(v.onPage) : hex(error + v.envelope))
                << v.name;
            EXPECT_EQ(plugin.boxes.boxes().size() > boxesBefore, box) << v.name;
            if (!opens || !v.whole()) continue;
            platform::seams::replayRandomBytes(v.nonce);
            const void* sent = plugin.call(messageToSend(12345, v.onPage));
            EXPECT_EQ(sent ? replyString(sent, 0) : "null", v.envelope) << v.name;
        }
        if (std::string(source.opens) != "all") continue;
        // A fresh nonce every time: one message twice gives two envelopes, both of which open.
        const void* first = plugin.call(messageToSend(12345, "Meet at 8"));
        const std::string one = replyString(first, 0);
        const std::string two = replyString(plugin.call(messageToSend(12345, "Meet at 8")), 0);
        EXPECT_NE(one, two);
        EXPECT_EQ(shown(plugin, one) + shown(plugin, two), "Meet at 8Meet at 8");
    }
}

}  // namespace
