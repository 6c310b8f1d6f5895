// The per-code-page tables behind the text steps: what each entry holds, and
// that the cache hands every code page its own tables however calls for
// different code pages alternate. Expected digits come from the code pages'
// characters written out in envelope_reference.h, not from the platform's
// conversions that the tables are built from.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "envelope/byte_tables.h"
#include "envelope/text_paths.h"
#include "envelope/envelope.h"
#include "envelope/text_steps.h"
#include "tests/envelope/envelope_reference.h"

using namespace envelope_test;
using envelope::detail::ByteTables;
using envelope::detail::byteTablesFor;

namespace {

std::string digitsOf(const envelope::detail::Digits& d) { return std::string(d.text, d.length); }

TEST(ByteTables, EveryByteMapsToTheDigitsOfItsCharacter) {
    for (const unsigned cp : {1251u, 1252u}) {
        const ByteTables* tables = byteTablesFor(cp);
        ASSERT_NE(tables, nullptr) << "cp" << cp;
        EXPECT_EQ(tables->codePage, cp);
        EXPECT_TRUE(tables->keepsEveryByte) << "cp" << cp;
        for (int b = 0; b < 256; ++b) {
            const auto byte = static_cast<unsigned char>(b);
            const std::string expected = testing_records::hex(utf8Of(characterOf(byte, cp)));
            EXPECT_EQ(tables->wide[b], characterOf(byte, cp)) << "byte " << b << " cp" << cp;
            EXPECT_EQ(tables->through[b], byte) << "byte " << b << " cp" << cp;
            EXPECT_EQ(digitsOf(tables->encoded[b]), expected) << "byte " << b << " cp" << cp;
            EXPECT_EQ(digitsOf(tables->sealed[b]), expected) << "byte " << b << " cp" << cp;
        }
    }
}

// The UTF-8 forms that a sealed envelope seals, on every vector width, for
// random texts of every length up to a few rounds of 64 and around them.
TEST(ByteTables, Utf8FormsOfRandomTextsOnEveryVectorWidth) {
        std::mt19937 rng(1252);
    for (const envelope::detail::TextPath* path : envelope::detail::availableTextPaths()) {
        envelope::detail::forceTextPath(path);
        for (const unsigned cp : {1251u, 1252u}) {
            for (std::size_t size = 0; size < 300; size += 1 + size % 7) {
                std::string text(size, '\0');
                for (char& c : text) c = static_cast<char>(rng());
                std::string out = "head";
                envelope::detail::appendUtf8Forms(out, text, *byteTablesFor(cp));
                ASSERT_EQ(testing_records::hex(out), testing_records::hex("head" + utf8OfCodePageText(text, cp)))
                    << size << " bytes, cp" << cp << ", vectors " << path->name;
            }
        }
    }
    envelope::detail::forceTextPath(nullptr);
}

TEST(ByteTables, EachCodePageKeepsItsTablesWhileOthersAreAdded) {
    const ByteTables* cyrillic = byteTablesFor(1251);
    const ByteTables* western = byteTablesFor(1252);
    ASSERT_NE(cyrillic, nullptr);
    ASSERT_NE(western, nullptr);
    EXPECT_NE(cyrillic, western);
    // More code pages than the cache held before, so that it grows; the
    // tables it handed out earlier stay where they were.
    for (const unsigned cp : {1250u, 1253u, 1254u, 866u, 437u}) {
        const ByteTables* other = byteTablesFor(cp);
        if (other) {
            EXPECT_EQ(other->codePage, cp);
        }
        EXPECT_EQ(byteTablesFor(cp), other) << "cp" << cp;
        EXPECT_EQ(byteTablesFor(1251), cyrillic) << "after cp" << cp;
        EXPECT_EQ(byteTablesFor(1252), western) << "after cp" << cp;
    }
    EXPECT_EQ(cyrillic->codePage, 1251u);
    EXPECT_EQ(western->codePage, 1252u);
}

TEST(ByteTables, AlternatingCodePagesEachGetTheirOwnCharacters) {
    // Byte C0 is U+0410 in Windows-1251 and U+00C0 in Windows-1252; byte 80
    // is U+0402 and U+20AC.
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(envelope::hexEncode("\xC0\x80", 1251), "D090D082");
        EXPECT_EQ(envelope::hexEncode("\xC0\x80", 1252), "C380E282AC");
        EXPECT_EQ(envelope::hexDecode("D090D082", 1251), "\xC0\x80");
        EXPECT_EQ(envelope::hexDecode("c380e282ac", 1252), "\xC0\x80");
        EXPECT_EQ(envelope::seal("", ElAES::Key{}, 1251), kMarker + "00000000");
    }
}

TEST(ByteTables, NarrowingRefusesWhatTheTablesDoNotHold) {
    const ByteTables* tables = byteTablesFor(1251);
    ASSERT_NE(tables, nullptr);
    // Each text followed by the four zero bytes the narrowing reads past its
    // end.
    const auto narrow = [&](const std::string& utf8, std::string& out) {
        const std::string padded = utf8 + std::string(4, '\0');
        return envelope::detail::narrowUtf8ByTable(std::string_view(padded.data(), utf8.size()), *tables, out);
    };
    std::string out;
    ASSERT_TRUE(narrow("a\xD0\x90\xE2\x84\x96", out));  // a, U+0410, U+2116
    EXPECT_EQ(out, "a\xC0\xB9");
    EXPECT_FALSE(narrow("\xC3\x80", out));      // U+00C0: not in Windows-1251
    EXPECT_FALSE(narrow("\xD0", out));          // cut short by the end
    EXPECT_FALSE(narrow("\x80", out));          // a continuation byte first
    EXPECT_FALSE(narrow("\xF0\x9F\x98\x80", out));  // beyond U+FFFF
}

#if defined(_WIN32)
// Shift-JIS converts two bytes to one character: no tables, and the steps
// are taken one after the other, with the same results as ever.
TEST(ByteTables, ADoubleByteCodePageHasNoneAndTakesTheStepsInTurn) {
    EXPECT_EQ(byteTablesFor(932), nullptr);
    EXPECT_EQ(envelope::hexEncode("\x82\xA0", 932), "E38182");  // U+3042
    EXPECT_EQ(envelope::hexDecode("e38182", 932), "\x82\xA0");
    EXPECT_THROW(envelope::hexDecode("E381", 932), envelope::EEnvelopeError);  // cut short
}
#endif

}  // namespace
