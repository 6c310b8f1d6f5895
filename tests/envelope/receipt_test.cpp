// Opening envelopes from every code page a receiver tries: against what
// make_receipt_cases.mjs worked out from the rules of receipt without any of
// Mistlock's code (tests/data/envelope/receipt_cases.tsv); then wrong keys on
// envelopes of every length.
#include <gtest/gtest.h>

#include <random>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/receipt.h"
#include "tests/envelope/envelope_reference.h"

using namespace envelope_test;
using testing_records::hex;

namespace {

std::string orDash(const std::string& s) { return s.empty() ? "-" : s; }

std::string joined(const std::vector<unsigned>& codePages) {
    std::string list;
    for (const unsigned cp : codePages) list += (list.empty() ? "" : ",") + std::to_string(cp);
    return orDash(list);
}

TEST(Receipt, AsWorkedOutFromTheRulesElsewhere) {
    const auto rows = dataRows("receipt_cases.tsv", 11);
    ASSERT_GT(rows.size(), 300u);
    for (const auto& f : rows) {
        SCOPED_TRACE(f[0]);
        const unsigned own = static_cast<unsigned>(std::stoul(f[1]));
        const auto extent = f[2] == "glued" ? envelope::Extent::Prefix : envelope::Extent::Whole;
        const ElAES::Key key = envelope::keyBlockFromText(keyTextOf(f[3] == "-" ? "" : f[3]));
        const std::string digits = f[4] == "-" ? "" : f[4];
        try {
            const envelope::Received r = envelope::openReceived(digits, key, own, extent);
            if (f[5] != "opened") {
                ADD_FAILURE() << "opened through " << r.codePage << " as " << hex(r.text);
                continue;
            }
            EXPECT_EQ(std::to_string(r.codePage), f[6]);
            EXPECT_EQ(r.verified ? "verified" : "unverified", f[7]);
            EXPECT_EQ(joined(r.alike), f[8]);
            EXPECT_EQ(std::to_string(r.digits), f[9]);
            EXPECT_EQ(orDash(hex(r.text)), f[10]);
        } catch (const envelope::EEnvelopeError& e) {
            EXPECT_EQ(f[5], "refused") << e.what();
        }
    }
}

// No wrong key opens an envelope sealed now, whatever its length, its code
// page and the receiver's.
TEST(Receipt, NoWrongKeyOpensWhatIsSealedNow) {
    std::mt19937 rng(22);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto randomKey = [&] {
        ElAES::Key key;
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(rng));
        return key;
    };
    std::size_t tried = 0, opened = 0;
    for (int round = 0; round < 100; ++round) {
        for (std::size_t n = 1; n <= 100; ++n) {
            std::string message(n, '\0');
            for (char& c : message) c = static_cast<char>(byte(rng));
            const unsigned from = envelope::senderCodePages[static_cast<std::size_t>(byte(rng)) % 7];
            const unsigned own = envelope::senderCodePages[static_cast<std::size_t>(byte(rng)) % 7];
            const std::string digits = envelope::seal(message, randomKey(), from).substr(kMarker.size());
            ++tried;
            try {
                envelope::openReceived(digits + (round % 2 ? "0d0a" : ""), randomKey(), own,
                                       round % 2 ? envelope::Extent::Prefix : envelope::Extent::Whole);
                if (++opened <= 3) ADD_FAILURE() << n << " bytes from " << from << " opened on " << own;
            } catch (const envelope::EEnvelopeError&) {
            }
        }
    }
    EXPECT_EQ(tried, 10000u);
    EXPECT_EQ(opened, 0u);
}

}  // namespace
