#pragma once
// What an envelope must be, worked out here from its parts rather than by the
// envelope module: AES-256 blocks from the FIPS-197-verified block cipher,
// code-page and UTF-8 steps from the platform layer, hex digits by hand.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/ElAES.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "tests/support/records.h"

namespace envelope_test {

inline const std::string kMarker = "#MSTLK:";

// A key block given as the hex digits of its first bytes, the rest zero.
inline ElAES::Key keyOf(const std::string& leadingHex) {
    ElAES::Key key{};
    const std::string bytes = testing_records::unhex(leadingHex);
    for (std::size_t i = 0; i < bytes.size() && i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(bytes[i]);
    return key;
}

inline std::string hexOfKey(const ElAES::Key& key) {
    return testing_records::hex(std::string(key.begin(), key.end()));
}

// ECB over zero-filled 16-byte blocks, one block at a time.
inline std::string ecb(const std::string& input, const ElAES::Key& key, bool encrypt) {
    ElAES::Schedule schedule;
    if (encrypt) {
        ElAES::buildEncryptionSchedule(key, schedule);
    } else {
        ElAES::buildDecryptionSchedule(key, schedule);
    }
    std::string padded = input;
    padded.resize((input.size() + 15) / 16 * 16, '\0');
    for (std::size_t at = 0; at < padded.size(); at += 16) {
        ElAES::Block block;
        for (int i = 0; i < 16; ++i) block[i] = static_cast<std::uint8_t>(padded[at + i]);
        if (encrypt) {
            ElAES::encryptBlock(block, schedule, block);
        } else {
            ElAES::decryptBlock(block, schedule, block);
        }
        for (int i = 0; i < 16; ++i) padded[at + i] = static_cast<char>(block[i]);
    }
    return padded;
}

// Length prefix (L little-endian) and the ciphertext.
inline std::string payloadFor(const std::string& message, const ElAES::Key& key) {
    return testing_records::int32(static_cast<std::int32_t>(message.size())) + ecb(message, key, true);
}

// The marker and the hex digits of the UTF-8 form of the payload's characters.
inline std::string envelopeOfPayload(const std::string& payload, unsigned codePage) {
    return kMarker + testing_records::hex(utf8::encode(platform::widenCodePage(codePage, payload)));
}

inline std::string envelopeFor(const std::string& message, const ElAES::Key& key,
                               unsigned codePage = platform::ansiCodePage()) {
    return envelopeOfPayload(payloadFor(message, key), codePage);
}

// The payload bytes an envelope carries, read back the same way.
inline std::string payloadOfEnvelope(const std::string& envelopeText, unsigned codePage = platform::ansiCodePage()) {
    EXPECT_EQ(envelopeText.substr(0, kMarker.size()), kMarker);
    const auto text = utf8::decode(testing_records::unhex(envelopeText.substr(kMarker.size())));
    EXPECT_TRUE(text.has_value()) << envelopeText;
    return text ? platform::narrowCodePage(codePage, *text) : std::string();
}

// A message of n bytes that does not end in a zero byte.
inline std::string sampleMessage(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + 11) % 256);
    if (n > 0 && s.back() == '\0') s.back() = 'z';
    return s;
}

inline std::string allByteValues() {
    std::string s(256, '\0');
    for (int i = 0; i < 256; ++i) s[i] = static_cast<char>(i);
    return s;
}

inline std::string dataFile(const std::string& name) {
    std::ifstream in(std::filesystem::path(MISTLOCK_TEST_DATA) / "envelope" / name, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot open test data " << name;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace envelope_test
