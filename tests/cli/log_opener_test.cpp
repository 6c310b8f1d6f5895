// open-log's history reader: which envelopes a line holds, how the text
// around them is read, what stays closed, and that the result does not depend
// on how the history is cut into chunks. Every case runs in both code pages.
#include <gtest/gtest.h>

#include <random>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "platform/platform.h"
#include "platform/utf8.h"
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
std::string expand(std::string text, const Texts& t) {
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
    // The run of hex digits is taken whole: a word of hex letters glued to an
    // envelope breaks it, and one odd digit carries nothing, as in the plug-in.
    {"hex letters glued on", "{A}beef\n", "{A}beef\n", 0, 1},
    {"one odd digit glued on", "{A}a z\n", "Hello z\n", 1, 0},
    {"national message in an ASCII history", "{N}\n", "{Nu}\n", 1, 0},
    {"UTF-8 with byte-order mark", "\xEF\xBB\xBF{Nu}: {N}\n", "{Nu}: {Nu}\n", 1, 0},
    {"UTF-8 without mark", "{Nu} {N}\r\n{A}\r\n", "{Nu} {Nu}\r\nHello\r\n", 2, 0},
    {"code-page history", "{Nc} {N}\n{Nc}\n", "{Nu} {Nu}\n{Nu}\n", 1, 0},
    // The first line beyond ASCII decides; UTF-8-looking bytes in a code-page
    // history are code-page characters.
    {"code page decided by the first line", "ok\n{Nc}\n{Nu}\n", "ok\n{Nu}\n{Nm}\n", 0, 0},
    {"code-page line in a UTF-8 history", "{Nu}\n{Nc} {A}\n", "{Nu}\n{Nu} Hello\n", 1, 0},
    {"mark only", "\xEF\xBB\xBF", "", 0, 0},
};

struct Outcome {
    std::string output;
    std::uint64_t opened, failed;
    std::size_t sinkCallsBeforeFinish;
};

// Feeds the history in pieces of the given sizes, cycling through them.
Outcome openHistory(const std::string& history, unsigned codePage, const std::vector<std::size_t>& pieces) {
    Outcome o{"", 0, 0, 0};
    cli::LogOpener opener(key, codePage, [&](std::string_view s) { o.output.append(s); });
    std::size_t at = 0, i = 0;
    while (at < history.size()) {
        const std::size_t n = std::min(pieces[i++ % pieces.size()], history.size() - at);
        opener.feed(std::string_view(history).substr(at, n));
        at += n;
    }
    opener.finish();
    o.opened = opener.opened();
    o.failed = opener.failed();
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

TEST(LogOpener, Utf16HistoryIsRefusedWithAWayOut) {
    for (const std::string mark : {"\xFF\xFE", "\xFE\xFF"}) {
        cli::LogOpener opener(key, 1251, [](std::string_view) {});
        try {
            opener.feed(mark + std::string("a\0b\0\n\0", 6));
            opener.finish();
            ADD_FAILURE() << "UTF-16 was read";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find("iconv -f UTF-16 -t UTF-8"), std::string::npos) << e.what();
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
    };
    for (const auto& s : summaries) {
        SCOPED_TRACE(s.history);
        cli::LogOpener opener(key, t.codePage, [](std::string_view) {});
        opener.feed(expand(s.history, t));
        opener.finish();
        const std::string summary = cli::summaryOf(opener);
        for (const auto& part : s.expectedParts) EXPECT_NE(summary.find(part), std::string::npos) << summary;
    }
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
}

}  // namespace
