#pragma once
// Opens every envelope in a chat history as it streams past: the history is
// fed in chunks of any size, and is written on, line by line, in UTF-8 with
// each envelope replaced by its plain text. Memory holds one line at a time.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"
#include "tools/cli/message_text.h"

namespace cli {

// How a history's bytes are text, decided from the whole history
// (HistoryScan) before it is opened.
enum class HistoryEncoding { Utf8, CodePage, Utf16LE, Utf16BE };

// Looks at every line of a history fed in chunks of any size: a byte-order
// mark decides; without one, NUL bytes in the first kilobytes mostly at odd
// (even) offsets mean UTF-16LE (BE). Otherwise the lines beyond ASCII weigh
// in: a line that is not valid UTF-8 is text in the code page for certain,
// while one that is may be either (the Cyrillic "\xC4\xA8" of Windows-1251
// is valid UTF-8), and the more so the shorter it is. So the history is
// UTF-8 when its valid lines hold more bytes beyond ASCII than its invalid
// ones; the invalid lines of a UTF-8 history are still read in the code page.
//
// A line is looked at as it streams past, never held: what decides it is its
// bytes beyond ASCII and whether it is valid UTF-8, and validity is decided a
// run of whole forms at a time.
class HistoryScan {
public:
    void feed(std::string_view bytes);
    HistoryEncoding result() const;
    // The bytes of the longest line, its line break not counted.
    std::uint64_t longestLine() const;

private:
    void scanPiece(std::string_view piece);  // of the line under way
    void endLine();

    std::string head_;  // the first bytes, for the mark and the NULs
    // The line under way: its bytes and those beyond ASCII, whether it is
    // valid UTF-8 so far, and its last form, which may go on in what follows.
    std::uint64_t lineBytes_ = 0, lineHigh_ = 0;
    bool lineValid_ = true;
    std::string lastForm_;
    std::uint64_t validHigh_ = 0, invalidHigh_ = 0;  // bytes beyond ASCII in each kind of line
    std::uint64_t longest_ = 0;
};

class LogOpener {
public:
    // Receives the output, in pieces of any size.
    using Sink = std::function<void(std::string_view)>;

    struct Failure {
        std::uint64_t line = 0;  // counted from 1
        std::string reason;
    };

    // How many failures are kept with their reasons, and how many line
    // numbers of envelopes opened unverified; the rest are only counted.
    static constexpr std::size_t keptFailures = 20;

    // `escape`: the opened texts go to a terminal, with their control
    // characters escaped (escapedForTerminal).
    LogOpener(const ElAES::Key& key, unsigned codePage, Sink sink, HistoryEncoding encoding = HistoryEncoding::Utf8,
              bool escape = false);

    // Room for a line of this many bytes, made ready before a long line
    // arrives in pieces (HistoryScan::longestLine): it grows no further.
    void expectLinesUpTo(std::uint64_t bytes);

    // Sealed envelopes are opened with this key (a sealed key file's); without
    // it they stay as they are, each counted as not opened.
    void openSealedWith(const ElAES::Key& sealedKey);

    // The next bytes of the history.
    void feed(std::string_view bytes);
    // The end of the history: the last line, if it has no line break, is
    // written now, and everything is handed to the sink.
    void finish();

    // Envelopes opened and verified by their zero fill or their tag (the
    // sealed ones, also counted apart); opened with no fill to verify the key
    // by (an earlier plug-in's 16, 32, 48... bytes); not opened.
    std::uint64_t opened() const { return opened_; }
    std::uint64_t openedSealed() const { return openedSealed_; }
    std::uint64_t unverified() const { return unverified_; }
    std::uint64_t failed() const { return failed_; }
    // Of those opened, how many came from each other code page.
    const std::map<unsigned, std::uint64_t>& fromOtherCodePages() const { return fromOther_; }
    // Of those opened, how many several code pages read as the same bytes and
    // as other characters (envelope::Received::alike).
    std::uint64_t readAlike() const { return readAlike_; }
    const std::vector<Failure>& failures() const { return failures_; }
    // The lines of the envelopes opened unverified, counted from 1, up to
    // keptFailures + 1 of them (so that the summary knows there are more); a
    // line holding several is named once.
    const std::vector<std::uint64_t>& unverifiedLines() const { return unverifiedLines_; }

private:
    void feedLines(std::string_view bytes);
    void processLine(std::string_view line);
    // Opens the envelope whose marker is at `at`; returns where it ends.
    std::size_t openClassic(std::string_view line, std::size_t at);
    std::size_t openSealed(std::string_view line, std::size_t at);
    void notOpened(std::string_view envelope, const char* why);
    void appendText(std::string_view text);
    // An opened message's text, UTF-8 already or in a code page, a piece at a
    // time.
    void appendOpened(std::string_view text, const CodePageToUtf8* toUtf8);
    void flushIfLarge();
    const CodePageToUtf8& toUtf8(unsigned codePage);

    ElAES::SecretKey key_;
    std::optional<ElAES::SecretKey> sealedKey_;
    unsigned codePage_;
    std::map<unsigned, std::unique_ptr<CodePageToUtf8>> toUtf8_;
    Sink sink_;
    HistoryEncoding encoding_;
    bool escape_;
    bool atStart_ = true;
    bool lineIsUtf8_ = false;
    std::string utf16Carry_;  // an odd byte, or a high surrogate's two, awaiting the rest
    std::string pending_;  // a line not yet complete
    std::string out_;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t opened_ = 0;
    std::uint64_t openedSealed_ = 0;
    std::uint64_t unverified_ = 0;
    std::uint64_t failed_ = 0;
    std::map<unsigned, std::uint64_t> fromOther_;
    std::uint64_t readAlike_ = 0;
    std::vector<Failure> failures_;
    std::vector<std::uint64_t> unverifiedLines_;
};

// The summary for standard error: what was opened, what was not and why.
std::string summaryOf(const LogOpener& opener);

// Which of several code pages that read an envelope alike its message is
// taken in, in words.
std::string alikeRule();

// Why a sealed envelope stays closed under a key that is no sealed key file.
std::string sealedNeedsSealedKey();

}  // namespace cli
