// open-log's history reader: which envelopes a line holds, how the text
// around them is read, what stays closed, and that the result does not depend
// on how the history is cut into chunks. Every case runs in both code pages.
#include <gtest/gtest.h>

#include <random>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "tests/envelope/envelope_reference.h"
#include "tools/cli/log_opener.h"

namespace {

struct Texts {
    unsigned codePage;
    std::u16string national;  // a text the code page holds, beyond ASCII
};

const Texts codePages[] = {{1251, u"Привет, мир! Ёж"}, {1252, u"Grüße, café! Œuvre"}};

const ElAES::Key key = envelope::keyBlockFromText(u"history key");
const ElAES::Key otherKey = envelope::keyBlockFromText(u"another key");

std::string lowercase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Placeholders in a case's history and expected output:
//   {A}  envelope of "Hello"        {N} envelope of the national text
//   {M}  envelope of two lines      {W} envelope of "Hello" under another key
//   {a}  {A} in lowercase digits
//   {Nu} the national text in UTF-8 {Nc} the national text in the code page
//   {Nm} the national text's UTF-8 bytes read in the code page, as UTF-8
//   {Sc} a short text in the code page whose bytes are also valid UTF-8
//   {Su} {Sc} read in the code page, as UTF-8
//   {X}  envelope of the other code page's national text, sealed there
//   {Xu} that text in UTF-8    {S} an earlier plug-in's envelope of a 16-byte
//                              text (no zero fill: unverifiable)
//   {L}  envelope of 136 x's sealed on the other code page: its length prefix
//        88 00 00 00 reads as 128 (1251's euro sign in 1252)  {Lu} the x's
std::string expand(std::string text, const Texts& t) {
    const Texts& other = t.codePage == 1251 ? codePages[1] : codePages[0];
    const std::string nationalBytes = platform::narrowCodePage(t.codePage, t.national);
    const std::string nationalUtf8 = utf8::encode(t.national);
    const std::string sealedA = envelope::seal("Hello", key, t.codePage);
    const std::pair<std::string, std::string> table[] = {
        {"{A}", sealedA},
        {"{a}", "#MSTLK:" + lowercase(sealedA.substr(7))},
        {"{N}", envelope::seal(nationalBytes, key, t.codePage)},
        {"{M}", envelope::seal("line one\r\nline two", key, t.codePage)},
        {"{W}", envelope::seal("Hello", otherKey, t.codePage)},
        {"{Nu}", nationalUtf8},
        {"{Nc}", nationalBytes},
        {"{Nm}", utf8::encode(platform::widenCodePage(t.codePage, nationalUtf8))},
        // "ДЁ" in 1251 is C4 A8, "Ã©" in 1252 is C3 A9: both spell one UTF-8 character.
        {"{Sc}", t.codePage == 1251 ? "\xC4\xA8" : "\xC3\xA9"},
        {"{Su}", t.codePage == 1251 ? "ДЁ" : "Ã©"},
        {"{X}", envelope::seal(platform::narrowCodePage(other.codePage, other.national), key, other.codePage)},
        {"{Xu}", utf8::encode(other.national)},
        {"{S}", envelope_test::envelopeFor("sixteen bytes!!!", key, t.codePage)},
        {"{L}", envelope::seal(std::string(136, 'x'), key, other.codePage)},
        {"{Lu}", std::string(136, 'x')},
    };
    for (const auto& [from, to] : table) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    }
    return text;
}

struct Case {
    const char* name;
    const char* history;
    const char* expected;
    std::uint64_t opened;
    std::uint64_t failed;
    std::uint64_t unverified = 0;
};

const Case cases[] = {
    {"empty history", "", "", 0, 0},
    {"text around an envelope", "[12:00] alice: {A} (sent)\n", "[12:00] alice: Hello (sent)\n", 1, 0},
    {"two envelopes side by side", "{A}{A}\n", "HelloHello\n", 1 + 1, 0},
    {"lowercase digits", "{a}\n", "Hello\n", 1, 0},
    {"last line without a line break", "x\n{A}", "x\nHello", 1, 0},
    {"line breaks kept as they are", "a\r\n{A}\r\n\r\nb\rc\n", "a\r\nHello\r\n\r\nb\rc\n", 1, 0},
    {"a message of two lines", "{M}\n", "line one\r\nline two\n", 1, 0},
    {"marker case matters", "#mstlk:00 #MSTLK 00\n", "#mstlk:00 #MSTLK 00\n", 0, 0},
    {"marker without digits", "see #MSTLK: here\n", "see #MSTLK: here\n", 0, 1},
    {"wrong key", "bob: {W}\n", "bob: {W}\n", 0, 1},
    // The envelope ends where its length prefix says: hex letters glued on
    // stay text, and one odd digit carries nothing, as in the plug-in.
    {"hex letters glued on", "{A}beef\n", "Hellobeef\n", 1, 0},
    {"digits glued on", "D192{A}deadbeef0\n", "D192Hellodeadbeef0\n", 1, 0},
    {"glued envelopes", "{A}{N}{A}\n", "Hello{Nu}Hello\n", 3, 0},
    {"one odd digit glued on", "{A}a z\n", "Hello z\n", 1, 0},
    {"national message in an ASCII history", "{N}\n", "{Nu}\n", 1, 0},
    {"UTF-8 with byte-order mark", "\xEF\xBB\xBF{Nu}: {N}\n", "{Nu}: {Nu}\n", 1, 0},
    {"UTF-8 without mark", "{Nu} {N}\r\n{A}\r\n", "{Nu} {Nu}\r\nHello\r\n", 2, 0},
    {"code-page history", "{Nc} {N}\n{Nc}\n", "{Nu} {Nu}\n{Nu}\n", 1, 0},
    // The whole history decides, by the weight of its lines beyond ASCII: a
    // short code-page line that looks like UTF-8 does not make it UTF-8.
    {"code page decided by the whole history", "{Sc}\n{Nc} {A}\n", "{Su}\n{Nu} Hello\n", 1, 0},
    {"code page however the lines are ordered", "{Nc}\n{Sc}\n", "{Nu}\n{Su}\n", 0, 0},
    {"UTF-8 outweighs a code-page line", "ok\n{Nc}\n{Nu}\n", "ok\n{Nu}\n{Nu}\n", 0, 0},
    {"code-page line in a UTF-8 history", "{Nu}\n{Nc} {A}\n", "{Nu}\n{Nu} Hello\n", 1, 0},
    {"mark only", "\xEF\xBB\xBF", "", 0, 0},
    {"sealed on the other code page", "{X} {A}\n", "{Xu} Hello\n", 2, 0},
    // Read through our code page as far as its length says, it would open
    // unverifiable; the sender's code page verifies it.
    {"a length that reads as a multiple of 16 here", "{L}\n", "{Lu}\n", 1, 0},
    {"16 bytes: opened, key not verifiable", "{S}\n", "sixteen bytes!!!\n", 0, 0, 1},
};

struct Outcome {
    std::string output;
    std::uint64_t opened, failed, unverified;
    std::size_t sinkCallsBeforeFinish;
};

// Scans the history, then opens it, both fed in pieces of the given sizes,
// cycling through them, as mistlock open-log does.
Outcome openHistory(const std::string& history, unsigned codePage, const std::vector<std::size_t>& pieces) {
    const auto inPieces = [&](const auto& feed) {
        std::size_t at = 0, i = 0;
        while (at < history.size()) {
            const std::size_t n = std::min(pieces[i++ % pieces.size()], history.size() - at);
            feed(std::string_view(history).substr(at, n));
            at += n;
        }
    };
    cli::HistoryScan scan;
    inPieces([&](std::string_view piece) { scan.feed(piece); });
    Outcome o{"", 0, 0, 0, 0};
    cli::LogOpener opener(key, codePage, [&](std::string_view s) { o.output.append(s); }, scan.result());
    inPieces([&](std::string_view piece) { opener.feed(piece); });
    opener.finish();
    o.opened = opener.opened();
    o.failed = opener.failed();
    o.unverified = opener.unverified();
    return o;
}

TEST(LogOpener, Cases) {
    for (const auto& t : codePages) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", code page " + std::to_string(t.codePage));
            const std::string history = expand(c.history, t);
            const Outcome whole = openHistory(history, t.codePage, {history.size() + 1});
            EXPECT_EQ(whole.output, expand(c.expected, t));
            EXPECT_EQ(whole.opened, c.opened);
            EXPECT_EQ(whole.failed, c.failed);
            EXPECT_EQ(whole.unverified, c.unverified);
            // Cut anywhere, even inside the marker, a digit pair or a mark.
            const Outcome bytewise = openHistory(history, t.codePage, {1});
            EXPECT_EQ(bytewise.output, whole.output);
            EXPECT_EQ(bytewise.opened, whole.opened);
        }
    }
}

TEST(LogOpener, RandomChunkingGivesTheSameResult) {
    const Texts& t = codePages[0];
    std::string history;
    for (const auto& c : cases) history += expand(c.history, t) + "\n";
    const Outcome whole = openHistory(history, t.codePage, {history.size()});
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::size_t> pieces;
        for (int k = 0; k < 16; ++k) pieces.push_back(1 + random() % 97);
        const Outcome cut = openHistory(history, t.codePage, pieces);
        EXPECT_EQ(cut.output, whole.output) << "round " << round;
        EXPECT_EQ(cut.failed, whole.failed);
    }
}

TEST(LogOpener, OutputLeavesBeforeTheEndOfALongHistory) {
    // 4 MiB of lines: the reader hands its output on as it goes and keeps
    // back no more than its buffer of 1 MiB and a line.
    const std::string line = "[2011-05-04 12:00] alice: " + envelope::seal("Hello there", key, 1251) + "\n";
    const std::string openedLine = "[2011-05-04 12:00] alice: Hello there\n";
    std::size_t handedOn = 0;
    cli::LogOpener opener(key, 1251, [&](std::string_view s) { handedOn += s.size(); });
    std::size_t lines = 0;
    for (; lines * line.size() < (4u << 20); ++lines) opener.feed(line);
    const std::size_t total = lines * openedLine.size();
    EXPECT_GE(handedOn + (1u << 20) + openedLine.size(), total);
    opener.finish();
    EXPECT_EQ(handedOn, total);
    EXPECT_EQ(opener.opened(), lines);
}

// Windows saves text as UTF-16, with or without a mark; it is read as it is,
// however it is cut, even between the halves of a unit or a surrogate pair.
TEST(LogOpener, Utf16HistoriesAreRead) {
    const Texts& t = codePages[0];
    const std::string text = expand("{Nu}: {N} {A}\r\n\xF0\x9F\x99\x82 {A}\n", t);
    const std::string expected = expand("{Nu}: {Nu} Hello\r\n\xF0\x9F\x99\x82 Hello\n", t);
    const std::u16string wide = u"\uFEFF" + utf8::decode(text).value();
    for (const bool bigEndian : {false, true}) {
        for (const bool mark : {true, false}) {
            SCOPED_TRACE(std::string(bigEndian ? "UTF-16BE" : "UTF-16LE") + (mark ? " with mark" : " without mark"));
            std::string bytes;
            for (std::size_t i = mark ? 0 : 1; i < wide.size(); ++i) {
                const char hi = static_cast<char>(wide[i] >> 8), lo = static_cast<char>(wide[i] & 0xFF);
                bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
            }
            for (const std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{3}}) {
                const Outcome o = openHistory(bytes, t.codePage, {piece});
                EXPECT_EQ(o.output, expected) << "in pieces of " << piece;
                EXPECT_EQ(o.opened, 3u);
            }
        }
    }
}

TEST(LogOpener, SummaryCountsAndNamesTheLinesThatStayedClosed) {
    const Texts& t = codePages[0];
    struct SummaryCase {
        const char* history;
        std::vector<std::string> expectedParts;
    };
    const SummaryCase summaries[] = {
        {"nothing here\n", {"mistlock: no envelopes found.\n"}},
        {"{A}\n", {"mistlock: 1 envelope opened.\n"}},
        {"{A}\n{A}\n", {"mistlock: 2 envelopes opened.\n"}},
        {"{A}\nx\n#MSTLK:\n", {"1 envelope opened, 1 envelope could not be opened and stays as it was:\n",
                               "  line 3: The envelope is too short to hold a message.\n"}},
        {"#MSTLK:0g\n{W}\n", {"0 envelopes opened, 2 envelopes could not be opened and stay as they were:\n",
                              "  line 1: The envelope is too short to hold a message.\n",
                              "  line 2: The envelope does not open with this key.\n"}},
        {"{A}\n{S}\n{X}\n", {"mistlock: 2 envelopes opened, 1 opened, key not verifiable.\n",
                             "key not verifiable on line 2: an earlier plug-in's message of 16, 32, 48... bytes carries no check",
                             "sealed on another code page and converted: 1 on 1252.\n"}},
        // A line holding two is named once.
        {"{S}\nx\n{S} {S}\n{A}\n", {"mistlock: 1 envelope opened, 3 opened, key not verifiable.\n",
                                   "mistlock: key not verifiable on lines 1, 3: an earlier plug-in's message"}},
    };
    for (const auto& s : summaries) {
        SCOPED_TRACE(s.history);
        cli::LogOpener opener(key, t.codePage, [](std::string_view) {});
        opener.feed(expand(s.history, t));
        opener.finish();
        const std::string summary = cli::summaryOf(opener);
        for (const auto& part : s.expectedParts) EXPECT_NE(summary.find(part), std::string::npos) << summary;
    }
    // Every character of this envelope is one that 1254 has at the same byte,
    // and the message's "ð" is "ğ" there: counted, on a 1252 side.
    const ElAES::Key key7000 = envelope_test::keyOf("7000");
    cli::LogOpener opener(key7000, 1252, [](std::string_view) {});
    opener.feed(envelope_test::envelopeFor("\xCF\xF0\xE8\xE2\xE5\xF2", key7000, 1252) + "\n");
    opener.finish();
    EXPECT_NE(cli::summaryOf(opener).find("1 envelope reads the same through several code pages, but not the "
                                          "message's characters: each is shown as sealed on this side's code page"),
              std::string::npos)
        << cli::summaryOf(opener);
}

TEST(LogOpener, OnlyTheFirstFailuresAreListed) {
    cli::LogOpener opener(key, 1251, [](std::string_view) {});
    for (int i = 0; i < 25; ++i) opener.feed("#MSTLK:00\n");
    opener.finish();
    EXPECT_EQ(opener.failed(), 25u);
    const std::string summary = cli::summaryOf(opener);
    EXPECT_NE(summary.find("  line 20: "), std::string::npos);
    EXPECT_EQ(summary.find("  line 21: "), std::string::npos);
    EXPECT_NE(summary.find("... and 5 more."), std::string::npos) << summary;

    cli::LogOpener unverified(key, 1251, [](std::string_view) {});
    // An earlier plug-in's envelope of 16 bytes, which carries no check.
    const std::string sixteen = envelope_test::envelopeFor("sixteen bytes!!!", key, 1251) + "\n";
    for (int i = 0; i < 21; ++i) unverified.feed(sixteen);
    unverified.finish();
    EXPECT_NE(cli::summaryOf(unverified).find(" 19, 20 and more: "), std::string::npos) << cli::summaryOf(unverified);
}

}  // namespace
