// The envelope's text steps on long, varied and damaged texts. However the
// envelope carries them out, hexEncode must give the hex digits of the UTF-8
// form of the widened text, and hexDecode what strict UTF-8 decoding and
// narrowing give, failing exactly where they fail; seal and open must agree
// with the conversions done one after the other. The cases reach past every
// length at which the work is split, and damage texts at and around those
// places.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "envelope/byte_tables.h"
#include "envelope/envelope.h"
#include "envelope/text_paths.h"
#include "envelope/text_steps.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "tests/envelope/envelope_reference.h"

using namespace envelope_test;

namespace {

const unsigned kCodePages[] = {1251, 1252};

std::string randomBytes(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// What hexDecode must give, from the definition: every character a digit (an
// unpaired last one included), the pairs strictly UTF-8, then narrowed.
// Nothing for a text that must be refused.
std::optional<std::string> expectedDecode(const std::string& digits, unsigned codePage) {
    for (const char c : digits) {
        if (digitValue(c) < 0) return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes += static_cast<char>(digitValue(digits[i]) * 16 + digitValue(digits[i + 1]));
    }
    const auto text = utf8::decode(bytes);
    if (!text) return std::nullopt;
    return platform::narrowCodePage(codePage, *text);
}

void expectDecodesAsDefined(const std::string& digits, unsigned codePage) {
    const auto expected = expectedDecode(digits, codePage);
    if (expected) {
        std::string got;
        ASSERT_NO_THROW(got = envelope::hexDecode(digits, codePage)) << digits.size() << " digits, cp" << codePage;
        ASSERT_EQ(testing_records::hex(got), testing_records::hex(*expected))
            << digits.size() << " digits, cp" << codePage;
    } else {
        ASSERT_THROW(envelope::hexDecode(digits, codePage), envelope::EEnvelopeError)
            << digits.size() << " digits, cp" << codePage;
    }
}

std::string expectedEncode(const std::string& text, unsigned codePage) {
    return testing_records::hex(utf8::encode(platform::widenCodePage(codePage, text)));
}

// Lengths around the places where long texts are split, and long ones.
const std::size_t kLengths[] = {0, 1, 2, 3, 63, 64, 65, 85, 86, 100, 127, 128, 129, 255, 256, 257, 300, 1000, 4096, 70000};

TEST(TextSteps, HexEncodeOfRandomTextsIsTheHexOfTheUtf8OfTheWidenedText) {
    std::mt19937 rng(1251);
    for (const unsigned cp : kCodePages) {
        for (const std::size_t n : kLengths) {
            const std::string text = randomBytes(rng, n);
            ASSERT_EQ(envelope::hexEncode(text, cp), expectedEncode(text, cp)) << n << " bytes, cp" << cp;
        }
    }
}

TEST(TextSteps, RandomTextsComeBackThroughTheCodePage) {
    std::mt19937 rng(1252);
    for (const unsigned cp : kCodePages) {
        for (const std::size_t n : kLengths) {
            const std::string text = randomBytes(rng, n);
            const std::string digits = expectedEncode(text, cp);
            expectDecodesAsDefined(digits, cp);
            std::string lower = digits;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            expectDecodesAsDefined(lower, cp);
        }
    }
}

// UTF-8 that the code pages' own characters never give, and damage to the
// digits: each spliced into a valid hex text at many places, the split points
// of long texts among them.
const char* const kSplices[] = {
    "80",         // lone continuation byte
    "BF80",       // two of them
    "C0", "C1BF", "C080",  // overlong forms, lead byte alone
    "D0",         // lead byte alone
    "D041",       // lead byte and no continuation
    "E282",       // truncated three-byte form
    "E08080",     // overlong three-byte form
    "EDA080",     // encoded surrogate
    "F09F9880",   // valid four-byte form: a character beyond U+FFFF
    "F4908080",   // past U+10FFFF
    "F8", "FF",   // never a lead byte
    "E4B8AD",     // U+4E2D: in neither code page
    "C2A0",       // U+00A0: in both
    "D090",       // U+0410: only in Windows-1251
    "00",         // a zero byte
    "4", "G", " ", "4Z",  // not digits, or an odd digit in the middle
};

TEST(TextSteps, DamagedTextsDecodeOrFailAsDefined) {
    std::mt19937 rng(77);
    for (const unsigned cp : kCodePages) {
        for (const std::size_t n : {40u, 300u, 1000u, 5000u}) {
            const std::string digits = expectedEncode(randomBytes(rng, n), cp);
            // Splice points: the start, the end, around each quarter of the
            // UTF-8 bytes (the digits' quarters), and random ones.
            std::vector<std::size_t> at = {0, digits.size()};
            for (int q = 1; q < 4; ++q) {
                const std::size_t quarter = digits.size() / 2 * q / 4 * 2;
                for (int d = -8; d <= 8; d += 2) {
                    if (static_cast<std::ptrdiff_t>(quarter) + d >= 0 && quarter + d <= digits.size()) at.push_back(quarter + d);
                }
            }
            for (int r = 0; r < 8; ++r) at.push_back(rng() % (digits.size() / 2 + 1) * 2);
            for (const char* splice : kSplices) {
                for (const std::size_t where : at) {
                    SCOPED_TRACE(std::string("splice ") + splice + " at " + std::to_string(where));
                    expectDecodesAsDefined(digits.substr(0, where) + splice + digits.substr(where), cp);
                    // Replacing digits rather than adding them.
                    if (where + 2 <= digits.size()) {
                        expectDecodesAsDefined(digits.substr(0, where) + splice + digits.substr(where + 2), cp);
                    }
                }
            }
            // Cut anywhere, mid-character included.
            for (int r = 0; r < 40; ++r) expectDecodesAsDefined(digits.substr(0, rng() % (digits.size() + 1)), cp);
        }
    }
}

TEST(TextSteps, ErrorNamesTheFirstCharacterThatIsNoDigit) {
    const std::string digits = expectedEncode(sampleMessage(3000), 1251);
    for (const std::size_t where : {std::size_t{0}, std::size_t{1}, digits.size() / 2 + 1, digits.size() - 1}) {
        std::string damaged = digits;
        damaged[where] = 'x';
        if (where + 2 < damaged.size()) damaged.back() = 'y';  // a later one too
        try {
            envelope::hexDecode(damaged, 1251);
            FAIL() << "no error for a non-digit at " << where;
        } catch (const envelope::EEnvelopeError& e) {
            EXPECT_NE(std::string(e.what()).find("at position " + std::to_string(where + 1 + kMarker.size()) + "."),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(TextSteps, LongMessagesSealAsDefinedAndOpen) {
    std::mt19937 rng(5);
    const ElAES::Key key = keyOf("00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF");
    for (const unsigned cp : kCodePages) {
        // The length prefix counts one zero byte more for a multiple of 16.
        for (const auto& [n, declared] : {std::pair{1000u, 1000u}, {4096u, 4097u}, {65536u, 65537u}, {70001u, 70001u}}) {
            std::string message = randomBytes(rng, n);
            if (message.back() == '\0') message.back() = 'z';
            const std::string sealed = envelope::seal(message, key, cp);
            ASSERT_EQ(sealed, sealedEnvelopeFor(message, key, cp)) << n << " bytes, cp" << cp;
            const envelope::Opened opened = envelope::open(sealed.substr(kMarker.size()), key, cp);
            ASSERT_EQ(opened.declaredLength, declared);
            ASSERT_EQ(testing_records::hex(opened.text),
                      testing_records::hex(platform::narrowCodePage(cp, platform::widenCodePage(cp, message))));
        }
    }
}

// A text reads through a code page only when the code page has every one of
// its characters, however the code page is read (by its tables, or by its
// conversions in turn): nothing stands in for a character it lacks.
TEST(TextSteps, ReadsStrictlyOnlyWhatTheCodePageHas) {
    struct Row {
        unsigned codePage;
        std::string utf8;
        const char* bytes;  // null: refused
    };
    const Row rows[] = {
        {1251, "Mist" "\xD0\x90\xD0\x82", "Mist" "\xC0\x80"},  // А, Ђ
        {1252, "Mist" "\xD0\x90", nullptr},
        {866, "\xD0\x90" "a", "\x80" "a"},
        {866, "\xD0\x82" "a", nullptr},
        {1252, "\xE2\x80\xA2", "\x95"},  // •
        {1251, "\xC3\x80", nullptr},      // À
#if defined(_WIN32)
        // Shift-JIS has no tables: its conversions decide.
        {932, "\xE3\x81\x82", "\x82\xA0"},  // あ
        {932, "\xC3\x80", nullptr},
        {932, "\xD0\x82", nullptr},
#endif
    };
    for (const Row& row : rows) {
        const std::string padded = row.utf8 + std::string(4, '\0');
        std::string out;
        const bool read = envelope::readStrictly(std::string_view(padded.data(), row.utf8.size()), row.codePage, out);
        EXPECT_EQ(read, row.bytes != nullptr) << testing_records::hex(row.utf8) << " cp" << row.codePage;
        if (read && row.bytes) {
            EXPECT_EQ(testing_records::hex(out), testing_records::hex(row.bytes));
        }
    }
}

// ---- The vector paths against the scalar one ---------------------------------

// hexDecode's bytes, or its error message (which names the position).
std::string decodeOutcome(const std::string& digits, unsigned codePage) {
    try {
        return "ok " + testing_records::hex(envelope::hexDecode(digits, codePage));
    } catch (const envelope::EEnvelopeError& e) {
        return std::string("error ") + e.what();
    }
}

// Every vector width this machine runs against SSE2 and the scalar tables, on
// the same texts: the code pages' own texts (random bytes through the tables),
// every byte value as UTF-8 and as digits, odd lengths, forms of every length
// at every lane of the first rounds, and damage of every kind at every
// position of a 64-byte window that straddles the 32- and 64-lane rounds, near
// the start and far in.
TEST(TextSteps, EveryVectorWidthDecodesAsTheScalarPath) {
    using envelope::detail::TextPath;
    const std::vector<const TextPath*> paths = envelope::detail::availableTextPaths();
    const TextPath* const widest = paths.back();
    std::cout << "[ vectors ] widest here: " << widest->name << std::endl;
    std::mt19937 rng(2026);
    std::vector<std::string> texts;
    std::string everyByte;
    for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
    texts.push_back(testing_records::hex(everyByte + everyByte));  // every byte value as UTF-8 bytes
    std::string everyDigitPair;
    for (int b = 0; b < 256; ++b) everyDigitPair += std::string(1, static_cast<char>(b)) + "0";
    texts.push_back(everyDigitPair);  // every byte value as a character of the digits
    for (const unsigned cp : kCodePages) {
        for (const std::size_t n : {1u, 17u, 33u, 65u, 100u, 129u, 500u, 4099u}) {
            texts.push_back(expectedEncode(randomBytes(rng, n), cp));
            texts.push_back(texts.back().substr(0, texts.back().size() - 1));  // odd length
        }
    }
    // A form of each length, whole and with a bad last byte, at every lane of
    // the first rounds and past them: a form may end in the next round.
    for (std::size_t lane = 0; lane < 140; ++lane) {
        for (const char* form : {"E280A2", "E28022", "E2A2", "C3A9", "C322", "D022"}) {
            std::string text;
            for (std::size_t i = 0; i < lane; ++i) text += "61";
            text += form;
            for (int i = 0; i < 80; ++i) text += "61";
            texts.push_back(text);
        }
    }
    const std::string base = expectedEncode(randomBytes(rng, 400), 1251);
    const char* const damage[] = {"80", "BF", "C0", "C3", "D0", "D2", "E2", "E282", "EF", "F0", "FF", "00", "41", "G", "g0", " "};
    for (const std::size_t window : {std::size_t{0}, std::size_t{40}, std::size_t{150}}) {
        for (std::size_t i = window; i < window + 64; ++i) {
            for (const char* d : damage) {
                texts.push_back(base.substr(0, 2 * i) + d + base.substr(2 * i + 2));  // a byte replaced
                texts.push_back(base.substr(0, 2 * i) + d + base.substr(2 * i));      // a byte put in
            }
            texts.push_back(base.substr(0, 2 * i + 1));  // cut, mid-pair
        }
    }
    for (const unsigned cp : kCodePages) {
        std::vector<std::string> expected;
        envelope::detail::forceTextPath(paths.front());
        for (const std::string& t : texts) expected.push_back(decodeOutcome(t, cp));
        for (std::size_t width = 1; width < paths.size(); ++width) {
            envelope::detail::forceTextPath(paths[width]);
            ASSERT_EQ(&envelope::detail::textPath(), paths[width]);
            for (std::size_t k = 0; k < texts.size(); ++k) {
                ASSERT_EQ(decodeOutcome(texts[k], cp), expected[k]) << paths[width]->name << ", cp" << cp << ", text "
                                                                    << k << ": " << texts[k];
            }
        }
    }
    envelope::detail::forceTextPath(nullptr);
    EXPECT_EQ(&envelope::detail::textPath(), widest);
}

}  // namespace
