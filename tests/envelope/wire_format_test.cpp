// The envelope's wire format: hex digits of the UTF-8 form of code-page text,
// the length prefix, the zero-filled AES-256 blocks. Every case runs under both
// code pages that peers may share, whatever the system's own is.
#include <gtest/gtest.h>

#include "envelope/envelope.h"
#include "envelope/text_steps.h"
#include "tests/envelope/envelope_reference.h"

using namespace envelope_test;
using testing_records::hex;
using testing_records::int32;

namespace {

const unsigned kCodePages[] = {1251, 1252};

// 8-bit text and its hex text under each code page. Expected digits are the
// UTF-8 bytes of the character each code page assigns to the byte.
struct HexCase {
    const char* bytes;
    std::size_t size;
    const char* hex1251;
    const char* hex1252;
};

const HexCase kHexCases[] = {
    {"", 0, "", ""},
    {"Hi", 2, "4869", "4869"},
    {"\x00\x01\x3F\x7F", 4, "00013F7F", "00013F7F"},
    {"\xC0", 1, "D090", "C380"},        // А U+0410 / À U+00C0
    {"\x88", 1, "E282AC", "CB86"},      // € U+20AC / ˆ U+02C6
    {"\x80", 1, "D082", "E282AC"},      // Ђ U+0402 / € U+20AC
    {"\xFF", 1, "D18F", "C3BF"},        // я U+044F / ÿ U+00FF
    {"\xB9", 1, "E28496", "C2B9"},      // № U+2116 / ¹ U+00B9
    {"\xA8", 1, "D081", "C2A8"},        // Ё U+0401 / ¨ U+00A8
    {"a\xC0z", 3, "61D0907A", "61C3807A"},
};

TEST(HexEncode, DigitsOfTheUtf8FormUppercase) {
    for (const auto& c : kHexCases) {
        const std::string bytes(c.bytes, c.size);
        EXPECT_EQ(envelope::hexEncode(bytes, 1251), c.hex1251) << hex(bytes);
        EXPECT_EQ(envelope::hexEncode(bytes, 1252), c.hex1252) << hex(bytes);
    }
}

TEST(HexDecode, ReadsBackWhatWasEncodedInEitherLetterCase) {
    for (const auto& c : kHexCases) {
        const std::string bytes(c.bytes, c.size);
        for (const unsigned cp : kCodePages) {
            std::string digits = cp == 1251 ? c.hex1251 : c.hex1252;
            EXPECT_EQ(envelope::hexDecode(digits, cp), bytes) << digits << " cp" << cp;
            for (char& ch : digits) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            EXPECT_EQ(envelope::hexDecode(digits, cp), bytes) << digits << " cp" << cp;
        }
    }
}

TEST(HexDecode, EveryByteValueSurvivesEncodeAndDecode) {
    const std::string all = allByteValues();
    for (const unsigned cp : kCodePages) {
        EXPECT_EQ(envelope::hexDecode(envelope::hexEncode(all, cp), cp), all) << "cp" << cp;
    }
}

TEST(HexDecode, OddLastDigitAndForeignCharacters) {
    struct Case { const char* digits; const char* expected; } cases[] = {
        {"4F1", "O"},            // an unpaired last digit adds nothing
        {"4f6B", "Ok"},
        {"4F6b0", "Ok"},
        {"0", ""},
        {"E4B8AD", "?"},         // U+4E2D: in neither code page, the default character
        {"41E4B8AD42", "A?B"},
    };
    for (const auto& c : cases) {
        for (const unsigned cp : kCodePages) {
            EXPECT_EQ(envelope::hexDecode(c.digits, cp), c.expected) << c.digits << " cp" << cp;
        }
    }
    // A character only one of the two code pages has.
    EXPECT_EQ(envelope::hexDecode("D090", 1251), "\xC0");
    EXPECT_EQ(envelope::hexDecode("C380", 1252), "\xC0");
}

TEST(HexDecode, RejectsNonDigitsAndInvalidUtf8) {
    const char* const cases[] = {
        "4G", "G4", "4F 6B", "4F-", "4FZ",     // not a digit, paired or the unpaired last one
        "0x41", "#MSTLK:41",
        "C0", "C080",                          // lead byte alone, overlong form
        "80", "4180",                          // lone continuation byte
        "E282", "41E2",                        // truncated sequence
        "EDA080",                              // encoded surrogate
        "F4908080",                            // past U+10FFFF
    };
    for (const char* digits : cases) {
        for (const unsigned cp : kCodePages) {
            EXPECT_THROW(envelope::hexDecode(digits, cp), envelope::EEnvelopeError) << digits << " cp" << cp;
        }
    }
}

const ElAES::Key kKey = keyOf("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");

// Checked sealing: the length prefix counts the fewest zero bytes that leave
// four or more bytes of zero fill, and the message opens to itself.
TEST(Seal, MatchesTheEnvelopeBuiltFromItsPartsAndOpensAgain) {
    const struct {
        std::size_t length;
        std::uint32_t declared;  // (declared mod 16) from 1 to 12, worked out by hand
    } cases[] = {{0, 0},     {1, 1},     {12, 12},   {13, 17},   {14, 17},   {15, 17},   {16, 17},  {17, 17},
                 {28, 28},   {29, 33},   {32, 33},   {127, 129}, {128, 129}, {200, 200}, {4000, 4001}};
    std::vector<std::pair<std::string, std::uint32_t>> messages;
    for (const auto& c : cases) messages.emplace_back(sampleMessage(c.length), c.declared);
    messages.emplace_back(allByteValues(), 257);
    for (const unsigned cp : kCodePages) {
        for (const auto& [m, declared] : messages) {
            const std::string sealed = envelope::seal(m, kKey, cp);
            EXPECT_EQ(sealed, sealedEnvelopeFor(m, kKey, cp)) << "L=" << m.size() << " cp" << cp;
            const std::string payload = payloadOfEnvelope(sealed, cp);
            EXPECT_EQ(payload.size(), 4 + 16 * ((declared + 15) / 16)) << "L=" << m.size();
            if (m.empty()) continue;  // nothing to open: see EmptyMessage
            const auto opened = envelope::open(sealed.substr(kMarker.size()), kKey, cp);
            EXPECT_EQ(opened.text, m) << "L=" << m.size() << " cp" << cp;
            EXPECT_EQ(opened.declaredLength, declared);
        }
    }
}

TEST(Seal, LengthPrefixDigits) {
    struct Case { std::size_t length; const char* lead1251; const char* lead1252; } cases[] = {
        {2, "02000000", "02000000"},
        {5, "05000000", "05000000"},
        {12, "0C000000", "0C000000"},
        {13, "11000000", "11000000"},          // 17: the zero bytes of checked sealing counted
        {124, "7C000000", "7C000000"},
        {127, "D083000000", "C281000000"},     // 129 = 0x81: Ѓ U+0403 / undefined, U+0081
        {200, "D098000000", "C388000000"},     // 0xC8: И U+0418 / È U+00C8
        {4000, "D08E0F0000", "C2A10F0000"},    // 4001, 0xA1: Ў U+040E / ¡ U+00A1
    };
    for (const auto& c : cases) {
        const std::string m = sampleMessage(c.length);
        EXPECT_EQ(envelope::seal(m, kKey, 1251).substr(kMarker.size(), std::string(c.lead1251).size()), c.lead1251);
        EXPECT_EQ(envelope::seal(m, kKey, 1252).substr(kMarker.size(), std::string(c.lead1252).size()), c.lead1252);
    }
}

TEST(Seal, EmptyMessageIsTheMarkerAndEightZerosAndDoesNotOpen) {
    for (const unsigned cp : kCodePages) {
        EXPECT_EQ(envelope::seal("", kKey, cp), "#MSTLK:00000000");
        EXPECT_THROW(envelope::open("00000000", kKey, cp), envelope::EEnvelopeError);
    }
}

TEST(Open, TrailingZeroBytesAreTrimmed) {
    struct Case { std::string message; std::string text; } cases[] = {
        {std::string("ab\0\0", 4), "ab"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {std::string(3, '\0'), ""},                    // only zeros: an empty text, not an error
        {std::string(16, '\0'), ""},
    };
    for (const auto& c : cases) {
        for (const unsigned cp : kCodePages) {
            const std::string hexText = envelopeFor(c.message, kKey, cp).substr(kMarker.size());
            EXPECT_EQ(envelope::open(hexText, kKey, cp).text, c.text) << hex(c.message);
        }
    }
}

// Payloads that a conforming sender never makes, and what a wrong key gives away.
TEST(Open, RejectsPayloadsThatDoNotFit) {
    const std::string block = ecb("Hi", kKey, true);
    struct Case { const char* what; std::string payload; } cases[] = {
        {"three bytes", std::string(3, '\0')},
        {"prefix alone", int32(0)},
        {"15 bytes of ciphertext", int32(2) + block.substr(0, 15)},
        {"17 bytes of ciphertext", int32(2) + block + "x"},
        {"L=17 on one block", int32(17) + block},
        {"L=0 on one block", int32(0) + block},
        {"L=2 on two blocks", int32(2) + block + block},
        // The fill after L bytes does not decrypt to zeros.
        {"L=1 for a two-byte text", int32(1) + block},
    };
    for (const auto& c : cases) {
        for (const unsigned cp : kCodePages) {
            EXPECT_THROW(envelope::open(envelopeOfPayload(c.payload, cp).substr(kMarker.size()), kKey, cp),
                         envelope::EEnvelopeError)
                << c.what << " cp" << cp;
        }
    }
    // A declared length that still fits its blocks opens: the value itself is
    // only a bound on the zero fill.
    EXPECT_EQ(envelope::open(envelopeOfPayload(int32(16) + block, 1251).substr(kMarker.size()), kKey, 1251).text,
              "Hi");
}

TEST(Open, WrongKeyIsCaughtExceptInAnEarlierPlugInsWholeBlocks) {
    const ElAES::Key wrong = keyOf("01");
    for (const std::size_t n : {1, 2, 15, 16, 17, 32, 100}) {
        const std::string sealed = envelope::seal(sampleMessage(n), kKey, 1251);
        EXPECT_THROW(envelope::open(sealed.substr(kMarker.size()), wrong, 1251), envelope::EEnvelopeError) << n;
    }
    // An earlier plug-in's envelope with L a multiple of 16 has no zero fill
    // to check: the wrong key's bytes are delivered as the text.
    for (const std::size_t n : {16, 32}) {
        const std::string m = sampleMessage(n);
        const auto opened = envelope::open(envelopeFor(m, kKey, 1251).substr(kMarker.size()), wrong, 1251);
        EXPECT_NE(opened.text, m);
    }
}

}  // namespace
