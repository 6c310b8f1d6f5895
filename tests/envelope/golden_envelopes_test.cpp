// Envelopes that another implementation made (tests/data/envelope/golden.tsv,
// from make_golden.mjs on OpenSSL and ICU): what the product seals must be
// those bytes, with the zero bytes of checked sealing, and they must open to
// what an earlier plug-in shows of them, as must the envelopes an earlier
// plug-in seals, under the code page of this run, on the cipher path of this
// run (CTest runs the program again with the portable path forced), and
// through pluginFun as a messenger calls it. Then random envelopes against the
// independent reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "crypto/aes_dispatch.h"
#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "tests/crypto/aes_paths.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/support/test_messenger.h"

using namespace envelope_test;
using namespace testing_records;

namespace {

struct GoldenCase {
    std::string name;
    unsigned codePage = 0;
    std::string keyHex;  // the key text's UTF-16LE form
    std::string message;
    std::string envelope;          // as Mistlock seals it
    std::uint32_t declaredLength = 0;  // its length prefix
    std::string classicEnvelope;   // as an earlier plug-in seals it
    std::string shownByEarlier;    // what an earlier plug-in shows of the envelope
    std::string shownByMistlock;   // what Mistlock shows of either
    bool opens = true;             // false: both show the error line

    std::u16string keyText() const { return keyTextOf(keyHex); }
};

std::vector<GoldenCase> goldenCases() {
    std::vector<GoldenCase> cases;
    for (const auto& fields : dataRows("golden.tsv", 9)) {
        const bool opens = fields[8] != "error line";
        EXPECT_EQ(fields[7], fields[8]) << "an earlier plug-in and Mistlock show different text: " << fields[0];
        cases.push_back({fields[0], static_cast<unsigned>(std::stoul(fields[1])), fields[2], unhex(fields[3]),
                         fields[4], static_cast<std::uint32_t>(std::stoul(fields[5])), fields[6],
                         opens ? unhex(fields[7]) : "", opens ? unhex(fields[8]) : "", opens});
    }
    return cases;
}

std::vector<GoldenCase> casesOfThisCodePage() {
    const auto all = goldenCases();
    std::vector<GoldenCase> mine;
    for (const auto& c : all) {
        if (c.codePage == platform::ansiCodePage()) mine.push_back(c);
    }
    // Every case stands there under both code pages.
    EXPECT_EQ(mine.size() * 2, all.size()) << "code page " << platform::ansiCodePage();
    return mine;
}

TEST(GoldenEnvelopes, SealAndOpenUnderThisCodePageAndCipherPath) {
    if (testsupport::portableForcedForThisRun()) {
        ASSERT_EQ(ElAES::activeImplementation(), ElAES::Implementation::Portable);
    }
    const auto cases = casesOfThisCodePage();
    ASSERT_FALSE(cases.empty());
    const unsigned cp = platform::ansiCodePage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ElAES::Key key = envelope::keyBlockFromText(c.keyText());
        // The first min(n, 32) bytes of the UTF-16LE form, n counting units.
        const std::size_t units = c.keyHex.size() / 4;
        EXPECT_EQ(hexOfKey(key), hexOfKey(keyOf(c.keyHex.substr(0, 2 * std::min<std::size_t>(units, 32)))));
        EXPECT_EQ(envelope::seal(c.message, key, cp), c.envelope);
        const struct {
            const std::string& envelope;
            std::uint32_t declaredLength;
        } sealedBy[] = {{c.envelope, c.declaredLength},
                        {c.classicEnvelope, static_cast<std::uint32_t>(c.message.size())}};
        for (const auto& s : sealedBy) {
            const std::string hexText = s.envelope.substr(kMarker.size());
            if (!c.opens) {
                // No ciphertext: nothing a key could be checked on.
                EXPECT_THROW(envelope::open(hexText, key, cp), envelope::EEnvelopeError);
                continue;
            }
            const envelope::Opened opened = envelope::open(hexText, key, cp);
            EXPECT_EQ(hex(opened.text), hex(c.shownByMistlock));
            EXPECT_EQ(opened.declaredLength, s.declaredLength);
        }
    }
}

// A few cases the way the messenger sees them: the key typed as the password,
// in a settings file in the code page when it is ASCII (the same bytes in
// both), else in UTF-16 (a key file would refuse a key this short); the empty
// key only on receipt, since nothing is sealed under it.
TEST(GoldenEnvelopes, ThroughPluginFun) {
    const std::set<std::string> chosen = {"worked example Hi", "every byte value", "Cyrillic text", "Latin-1 text",
                                          "key with a surrogate pair", "key of 0 units"};
    std::size_t run = 0;
    for (const auto& c : casesOfThisCodePage()) {
        if (!chosen.count(c.name)) continue;
        SCOPED_TRACE(c.name);
        ++run;
        const std::u16string keyText = c.keyText();
        bool ascii = true;
        for (const char16_t u : keyText) ascii = ascii && u < 0x80;
        test_messenger::TempFolder folder;
        if (ascii) {
            folder.write("Mistlock.ini", "on\r\npass_check\r\n" + std::string(keyText.begin(), keyText.end()) +
                                             "\r\n\r\n");
        } else {
            const auto utf16 = [](const std::string& ascii) {
                std::string out;
                for (const char c : ascii) out += std::string{c, '\0'};
                return out;
            };
            folder.write("Mistlock.ini",
                         "\xFF\xFE" + utf16("on\r\npass_check\r\n") + unhex(c.keyHex) + utf16("\r\n\r\n"));
        }
        folder.write("MistlockWho.ini", "12345\r\n");
        test_messenger::TestMessenger plugin;
        ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
        if (!keyText.empty()) {
            const void* sent = plugin.call(messageToSend(12345, c.message));
            ASSERT_NE(sent, nullptr);
            EXPECT_EQ(replyString(sent, 0), c.envelope);
        }
        for (const std::string& envelope : {c.envelope, c.classicEnvelope}) {
            const void* received = plugin.call(messageReceived(envelope, 12345));
            ASSERT_NE(received, nullptr);
            EXPECT_EQ(hex(replyString(received, 0)), hex(c.shownByMistlock));
        }
        EXPECT_TRUE(plugin.boxes.boxes().empty());
    }
    EXPECT_EQ(run, chosen.size()) << "a chosen case is missing from golden.tsv";
}

// Random messages and key blocks, both code pages: the product against the
// byte-wise cipher and the written-out tables of envelope_reference.h.
TEST(SealAgainstReference, RandomMessagesAndKeys) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, 80);
    for (int round = 0; round < 300; ++round) {
        std::string message(length(rng), '\0');
        for (char& b : message) b = static_cast<char>(byte(rng));
        ElAES::Key key;
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(rng));
        const unsigned cp = round % 2 ? 1251 : 1252;
        const std::string sealed = envelope::seal(message, key, cp);
        ASSERT_EQ(sealed, sealedEnvelopeFor(message, key, cp)) << "round " << round << ", " << hex(message);
        if (message.empty()) continue;
        const auto opened = envelope::open(sealed.substr(kMarker.size()), key, cp);
        ASSERT_EQ(hex(opened.text), hex(message.substr(0, message.find_last_not_of('\0') + 1))) << "round " << round;
    }
}

}  // namespace
