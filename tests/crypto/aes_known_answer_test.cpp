// FIPS-197's worked AES-256 examples, read from the data files: the key
// expansion of appendix A.3 and the cipher example of appendix C.3 with the
// round keys of both the cipher and the equivalent inverse cipher.
#include <map>
#include <regex>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "tests/crypto/reference_aes.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

// "round[ 3].k_sch   1651..." lines of one section of the C.3 file, by
// (round, field).
using RoundValues = std::map<std::pair<int, std::string>, std::string>;

struct C3Example {
    std::string plaintext;
    std::string key;
    RoundValues cipher;
    RoundValues inverse;
    RoundValues equivalentInverse;
};

C3Example readC3() {
    C3Example example;
    RoundValues* section = nullptr;
    const std::regex roundLine(R"(^round\[\s*(\d+)\]\.(\w+)\s+([0-9a-f]+)\s*$)");
    for (const std::string& line : readDataLines("aesavs/C3_AES256.txt")) {
        std::smatch m;
        if (line.rfind("PLAINTEXT:", 0) == 0) {
            example.plaintext = line.substr(line.find(':') + 1);
        } else if (line.rfind("KEY:", 0) == 0) {
            example.key = line.substr(line.find(':') + 1);
        } else if (line.rfind("CIPHER (ENCRYPT)", 0) == 0) {
            section = &example.cipher;
        } else if (line.rfind("INVERSE CIPHER", 0) == 0) {
            section = &example.inverse;
        } else if (line.rfind("EQUIVALENT INVERSE CIPHER", 0) == 0) {
            section = &example.equivalentInverse;
        } else if (section != nullptr && std::regex_match(line, m, roundLine)) {
            (*section)[{std::stoi(m[1].str()), m[2].str()}] = m[3].str();
        }
    }
    return example;
}

std::string roundKeyHex(const ElAES::Schedule& schedule, unsigned roundKey) {
    std::string text;
    for (unsigned c = 0; c < 4; ++c) text += wordHex(schedule, 4 * roundKey + c);
    return text;
}

TEST(AesKnownAnswer, AppendixC3EncryptsAndDecrypts) {
    const C3Example example = readC3();
    ASSERT_EQ(example.cipher.at({0, "input"}), toHex(fromHex(example.plaintext)));
    const ElAES::Key key = keyFromHex(example.key);
    const ElAES::Block plaintext = blockFromHex(example.plaintext);
    const std::string ciphertext = example.cipher.at({14, "output"});

    ElAES::Schedule encryption;
    ElAES::buildEncryptionSchedule(key, encryption);
    ElAES::Block out;
    ElAES::encryptBlock(plaintext, encryption, out);
    EXPECT_EQ(toHex(out), ciphertext);

    ElAES::Schedule decryption;
    ElAES::buildDecryptionSchedule(key, decryption);
    ElAES::decryptBlock(blockFromHex(ciphertext), decryption, out);
    EXPECT_EQ(toHex(out), example.inverse.at({14, "ioutput"}));
    EXPECT_EQ(toHex(out), example.equivalentInverse.at({14, "ioutput"}));
    EXPECT_EQ(toHex(out), toHex(plaintext));
}

// Round r of the cipher uses round key r; round r of the equivalent inverse
// cipher uses round key 14 - r of the decryption schedule.
TEST(AesKnownAnswer, AppendixC3RoundKeysOfBothSchedules) {
    const C3Example example = readC3();
    const ElAES::Key key = keyFromHex(example.key);
    ElAES::Schedule encryption;
    ElAES::Schedule decryption;
    ElAES::buildEncryptionSchedule(key, encryption);
    ElAES::buildDecryptionSchedule(key, decryption);
    for (unsigned r = 0; r <= 14; ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        EXPECT_EQ(roundKeyHex(encryption, r), example.cipher.at({static_cast<int>(r), "k_sch"}));
        EXPECT_EQ(roundKeyHex(decryption, 14 - r), example.equivalentInverse.at({static_cast<int>(r), "ik_sch"}));
        // The plain inverse cipher lists the unmodified round keys in reverse.
        EXPECT_EQ(roundKeyHex(encryption, 14 - r), example.inverse.at({static_cast<int>(r), "ik_sch"}));
    }
}

// The A.3 file lists w0..w7 as "wN = ..." lines and w8..w59 as table rows whose
// first column is i and whose last is w[i]. The four words beyond w59 are not
// in the file; they come from the expansion rule, run by the byte-wise model.
TEST(AesKnownAnswer, AppendixA3KeyExpansion) {
    std::string keyText;
    std::map<int, std::string> expected;
    const std::regex namedWord(R"(^w(\d+)\s*=\s*([0-9a-f]{8})\s*$)");
    const std::regex tableRow(R"(^(\d+)\s+.*\s([0-9a-f]{8})\s*$)");
    for (const std::string& line : readDataLines("aesavs/A3_keyexp256.txt")) {
        std::smatch m;
        if (line.rfind("Cipher Key =", 0) == 0) {
            keyText = line.substr(line.find('=') + 1);
        } else if (std::regex_match(line, m, namedWord) || std::regex_match(line, m, tableRow)) {
            expected[std::stoi(m[1].str())] = m[2].str();
        }
    }
    ASSERT_EQ(expected.size(), 60u);
    ASSERT_EQ(expected.begin()->first, 0);
    ASSERT_EQ(expected.rbegin()->first, 59);

    const ElAES::Key key = keyFromHex(keyText);
    ElAES::Schedule schedule;
    ElAES::buildEncryptionSchedule(key, schedule);
    for (const auto& [i, word] : expected) {
        EXPECT_EQ(wordHex(schedule, static_cast<unsigned>(i)), word) << "w" << i;
    }

    // Step 4 of the expansion: W[60] = W[52] ^ SubWord(W[59]), then
    // W[61..63] = W[53..55] ^ the word before.
    // The byte-wise model runs that rule; it must first reproduce the
    // published 60 words.
    const auto model = reference::expandKey(key, 64);
    for (const auto& [i, word] : expected) ASSERT_EQ(toHex(model[i]), word) << "model disagrees, w" << i;
    for (unsigned i = 60; i < 64; ++i) {
        EXPECT_EQ(wordHex(schedule, i), toHex(model[i])) << "w" << i;
    }
}

}  // namespace
