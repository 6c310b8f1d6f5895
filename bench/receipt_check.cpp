// The long check of receipt across code pages: random two-block messages
// (17 to 32 bytes) sealed on one code page, by Mistlock now and as an earlier
// plug-in sealed them, opened on another with the right key. Each must open
// to exactly the sender's text, or be refused; none may open to other text.
// Counted for the most exposed pairs (1257 and 1250 to 1252), a million
// messages of each kind by default, and for every other pair of the code
// pages a receiver tries, fewer.
//
//   receipt_check [MESSAGES_ON_THE_EXPOSED_PAIRS [MESSAGES_ON_THE_OTHERS]]
//
// An earlier plug-in's message of 32 bytes has no zero fill: the receiver's
// own code page opens it unverified, to other text when
// it is not the sender's. Those are counted apart; any other envelope that
// opens to other text makes the exit status 1.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "envelope/envelope.h"
#include "envelope/receipt.h"
#include "platform/platform.h"
#include "tests/support/message_traffic.h"

namespace {

struct Counts {
    unsigned long exact = 0;       // the sender's bytes, in the sender's characters
    unsigned long alikeNamed = 0;  // the sender's bytes; the sender's code page named among those read alike
    unsigned long unverified = 0;  // the receiver's own reading, no fill to check (32 bytes, earlier)
    unsigned long unverifiedOther = 0;  // of those, the text not the sender's
    unsigned long refused = 0;
    unsigned long otherText = 0;   // verified, and not the sender's text
};

std::string withoutTrailingZeros(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

void tally(Counts& c, const std::string& message, unsigned from, const envelope::Received& r) {
    const std::string sent = withoutTrailingZeros(message);
    if (!r.verified) {
        ++c.unverified;
        c.unverifiedOther += r.text != sent;
    } else if (r.text != sent) {
        ++c.otherText;
    } else if (r.codePage == from ||
               platform::widenCodePage(r.codePage, r.text) == platform::widenCodePage(from, r.text)) {
        ++c.exact;
    } else if (std::find(r.alike.begin(), r.alike.end(), from) != r.alike.end()) {
        ++c.alikeNamed;
    } else {
        ++c.otherText;
    }
}

// Messages of one pair, each sealed both ways.
void check(unsigned from, unsigned to, unsigned long messages, std::mt19937_64& rng, Counts (&counts)[2]) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(17, 32);
    for (unsigned long i = 0; i < messages; ++i) {
        std::string message(length(rng), '\0');
        for (char& b : message) b = static_cast<char>(byte(rng));
        ElAES::Key key;
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(rng));
        const std::string sealed[2] = {envelope::seal(message, key, from),
                                       message_traffic::earlierEnvelope(message, key, from)};
        for (int kind = 0; kind < 2; ++kind) {
            try {
                const auto r = envelope::openReceived(std::string_view(sealed[kind]).substr(envelope::marker.size()),
                                                      key, to, envelope::Extent::Whole);
                tally(counts[kind], message, from, r);
            } catch (const envelope::EEnvelopeError&) {
                ++counts[kind].refused;
            }
        }
    }
}

void print(const std::string& pair, const char* kind, unsigned long messages, const Counts& c) {
    std::printf("%-12s  %-22s %9lu %9lu %9lu %9lu %9lu %9lu %9lu\n", pair.c_str(), kind, messages, c.exact,
                c.alikeNamed, c.unverified, c.unverifiedOther, c.refused, c.otherText);
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long exposed = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const unsigned long others = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20000;
    std::mt19937_64 rng(22);
    std::printf("%-12s  %-22s %9s %9s %9s %9s %9s %9s %9s\n", "from -> to", "sealed", "messages", "exact", "alike",
                "unverif.", "of them", "refused", "OTHER");
    std::printf("%-12s  %-22s %9s %9s %9s %9s %9s %9s %9s\n", "", "", "", "", "named", "(no fill)", "other", "",
                "TEXT");
    unsigned long wrong = 0;
    Counts total[2];
    for (const unsigned from : envelope::senderCodePages) {
        for (const unsigned to : envelope::senderCodePages) {
            const bool exposedPair = to == 1252 && (from == 1257 || from == 1250);
            const unsigned long n = exposedPair ? exposed : others;
            Counts counts[2];
            check(from, to, n, rng, counts);
            const std::string pair = std::to_string(from) + " -> " + std::to_string(to);
            print(pair, "now", n, counts[0]);
            print(pair, "by an earlier plug-in", n, counts[1]);
            for (int kind = 0; kind < 2; ++kind) {
                wrong += counts[kind].otherText;
                total[kind].exact += counts[kind].exact;
                total[kind].alikeNamed += counts[kind].alikeNamed;
                total[kind].unverified += counts[kind].unverified;
                total[kind].unverifiedOther += counts[kind].unverifiedOther;
                total[kind].refused += counts[kind].refused;
                total[kind].otherText += counts[kind].otherText;
            }
        }
    }
    for (int kind = 0; kind < 2; ++kind) {
        const Counts& c = total[kind];
        print("all pairs", kind == 0 ? "now" : "by an earlier plug-in",
              c.exact + c.alikeNamed + c.unverified + c.refused + c.otherText, c);
        if (kind == 0) wrong += c.unverified;  // sealed now, every envelope has fill
    }
    std::printf("%s\n", wrong == 0 ? "No envelope opened to other text." : "SOME ENVELOPES OPENED TO OTHER TEXT.");
    return wrong == 0 ? 0 : 1;
}
