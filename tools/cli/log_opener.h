#pragma once
// Opens every envelope in a chat history as it streams past: the history is
// fed in chunks of any size, and is written on, line by line, in UTF-8 with
// each envelope replaced by its plain text. Memory holds one line at a time.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"
#include "tools/cli/message_text.h"

namespace cli {

class LogOpener {
public:
    // Receives the output, in pieces of any size.
    using Sink = std::function<void(std::string_view)>;

    struct Failure {
        std::uint64_t line = 0;  // counted from 1
        std::string reason;
    };

    // How many failures are kept with their reasons; the rest are only counted.
    static constexpr std::size_t keptFailures = 20;

    LogOpener(const ElAES::Key& key, unsigned codePage, Sink sink);

    // The next bytes of the history. Raises Exception when the history is in
    // UTF-16, which is not read.
    void feed(std::string_view bytes);
    // The end of the history: the last line, if it has no line break, is
    // written now, and everything is handed to the sink.
    void finish();

    std::uint64_t opened() const { return opened_; }
    std::uint64_t failed() const { return failed_; }
    const std::vector<Failure>& failures() const { return failures_; }

private:
    enum class Encoding { Undecided, Utf8, CodePage };

    void processLine(std::string_view line);
    void appendText(std::string_view text, bool lineIsUtf8);
    void flushIfLarge();

    ElAES::SecretKey key_;
    unsigned codePage_;
    CodePageToUtf8 toUtf8_;
    Sink sink_;
    Encoding encoding_ = Encoding::Undecided;
    bool atStart_ = true;
    std::string pending_;  // a line not yet complete
    std::string out_;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t opened_ = 0;
    std::uint64_t failed_ = 0;
    std::vector<Failure> failures_;
};

// The summary for standard error: what was opened, what was not and why.
std::string summaryOf(const LogOpener& opener);

}  // namespace cli
