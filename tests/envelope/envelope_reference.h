#pragma once
// What an envelope must be, worked out here from its parts and from nothing
// the product uses: AES-256 from the byte-wise FIPS-197 oracle, the two code
// pages' characters written out below, a UTF-8 encoder and decoder of its
// own, hex digits by hand. A fault in the product's cipher, code-page tables
// or UTF-8 steps thus shows as a difference here instead of being repeated.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ElAES.h"
#include "platform/platform.h"
#include "tests/crypto/reference_aes.h"
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

// A key text given as the hex digits of its UTF-16LE form.
inline std::u16string keyTextOf(const std::string& utf16leHex) {
    const std::string bytes = testing_records::unhex(utf16leHex);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return text;
}

inline std::string hexOfKey(const ElAES::Key& key) {
    return testing_records::hex(std::string(key.begin(), key.end()));
}

// ECB over zero-filled 16-byte blocks, one block at a time.
inline std::string ecb(const std::string& input, const ElAES::Key& key, bool encrypt) {
    std::string padded = input;
    padded.resize((input.size() + 15) / 16 * 16, '\0');
    for (std::size_t at = 0; at < padded.size(); at += 16) {
        std::array<std::uint8_t, 16> block;
        for (int i = 0; i < 16; ++i) block[i] = static_cast<std::uint8_t>(padded[at + i]);
        block = encrypt ? reference::cipher(block, key) : reference::invCipher(block, key);
        for (int i = 0; i < 16; ++i) padded[at + i] = static_cast<char>(block[i]);
    }
    return padded;
}

// The characters of the bytes 0x80..0xFF (below them, ASCII), written out
// from Python's cp1251 and cp1252 codecs rather than from the product's
// tables; the byte values a code page leaves undefined read as U+00xx, as
// MultiByteToWideChar reads them under Windows and Wine.
inline constexpr std::u16string_view kCp1251High =
    u"ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\u0098™љ›њќћџ"
    u"\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕї"
    u"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
    u"абвгдежзийклмнопрстуфхцчшщъыьэюя";
inline constexpr std::u16string_view kCp1252High =
    u"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ"
    u"\u00A0¡¢£¤¥¦§¨©ª«¬\u00AD®¯°±²³´µ¶·¸¹º»¼½¾¿"
    u"ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞß"
    u"àáâãäåæçèéêëìíîïðñòóôõö÷øùúûüýþÿ";
static_assert(kCp1251High.size() == 128 && kCp1252High.size() == 128, "one character a byte");

inline std::u16string_view highHalfOf(unsigned codePage) {
    if (codePage != 1251 && codePage != 1252) ADD_FAILURE() << "no table for code page " << codePage;
    return codePage == 1251 ? kCp1251High : kCp1252High;
}

inline char16_t characterOf(unsigned char byte, unsigned codePage) {
    return byte < 0x80 ? byte : highHalfOf(codePage)[byte - 0x80];
}

// Every character of both tables lies in the BMP outside the surrogates:
// one to three UTF-8 bytes.
inline std::string utf8Of(char16_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    if (c < 0x800) return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

// 8-bit text to the UTF-8 bytes of its characters in the code page.
inline std::string utf8OfCodePageText(const std::string& bytes, unsigned codePage) {
    std::string out;
    for (const char b : bytes) out += utf8Of(characterOf(static_cast<unsigned char>(b), codePage));
    return out;
}

// The reverse, for UTF-8 that the above can have made; anything else fails
// the test that asked.
inline std::string codePageTextOfUtf8(const std::string& utf8, unsigned codePage) {
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
        if (length == 0 || at + length > utf8.size()) {
            ADD_FAILURE() << "not UTF-8 of a code-page character at byte " << at;
            return out;
        }
        char16_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
        for (std::size_t i = 1; i < length; ++i) c = static_cast<char16_t>(c << 6 | (utf8[at + i] & 0x3F));
        int byte = -1;
        for (int b = 0; b < 256 && byte < 0; ++b) {
            if (characterOf(static_cast<unsigned char>(b), codePage) == c && utf8Of(c) == utf8.substr(at, length)) {
                byte = b;
            }
        }
        if (byte < 0) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c) << " is not in code page " << std::dec
                          << codePage;
            return out;
        }
        out += static_cast<char>(byte);
        at += length;
    }
    return out;
}

// Length prefix (L little-endian) and the ciphertext.
inline std::string payloadFor(const std::string& message, const ElAES::Key& key) {
    return testing_records::int32(static_cast<std::int32_t>(message.size())) + ecb(message, key, true);
}

// The marker and the hex digits of the UTF-8 form of the payload's characters.
inline std::string envelopeOfPayload(const std::string& payload, unsigned codePage) {
    return kMarker + testing_records::hex(utf8OfCodePageText(payload, codePage));
}

// The envelope as an earlier plug-in seals it (and as a received one may be).
inline std::string envelopeFor(const std::string& message, const ElAES::Key& key,
                               unsigned codePage = platform::ansiCodePage()) {
    return envelopeOfPayload(payloadFor(message, key), codePage);
}

// A message of n >= 1 bytes followed by the fewest zero bytes k that leave
// (n + k) mod 16 between 1 and 12: the last block then has at least four
// bytes of zero fill. The empty message stays empty.
inline std::string checkedMessage(const std::string& message) {
    std::string checked = message;
    while (!checked.empty() && (checked.size() % 16 == 0 || checked.size() % 16 > 12)) checked += '\0';
    return checked;
}

// The envelope as Mistlock seals it: the checked message in an earlier
// plug-in's envelope, whose length prefix counts the zeros.
inline std::string sealedEnvelopeFor(const std::string& message, const ElAES::Key& key,
                                     unsigned codePage = platform::ansiCodePage()) {
    return envelopeFor(checkedMessage(message), key, codePage);
}

// The payload bytes an envelope carries, read back the same way.
inline std::string payloadOfEnvelope(const std::string& envelopeText, unsigned codePage = platform::ansiCodePage()) {
    EXPECT_EQ(envelopeText.substr(0, kMarker.size()), kMarker);
    return codePageTextOfUtf8(testing_records::unhex(envelopeText.substr(kMarker.size())), codePage);
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

// The rows of a tab-separated data file, each with `columns` fields; lines
// that begin with '#' are comments.
inline std::vector<std::vector<std::string>> dataRows(const std::string& name, std::size_t columns) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(dataFile(name));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string field; std::getline(cells, field, '\t');) fields.push_back(field);
        if (fields.size() == columns) {
            rows.push_back(std::move(fields));
        } else {
            ADD_FAILURE() << name << ": malformed line: " << line;
        }
    }
    return rows;
}

}  // namespace envelope_test
