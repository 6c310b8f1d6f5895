#include "tools/cli/log_opener.h"

#include <cstring>

#include "envelope/envelope.h"
#include "platform/hex.h"
#include "platform/utf8.h"
#include "tools/cli/message_text.h"

namespace cli {

namespace {

constexpr std::size_t flushSize = 1 << 20;

// Hex digits of either case, looked up a byte at a time.
struct HexDigitTable {
    bool digit[256] = {};
    constexpr HexDigitTable() {
        for (int c = 0; c < 256; ++c) digit[c] = platform::hexDigitValue(static_cast<char>(c)) >= 0;
    }
};
constexpr HexDigitTable hexDigit;

bool isAscii(std::string_view text) {
    // Eight bytes at a time, then the rest.
    constexpr std::uint64_t highBits = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & highBits) return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

LogOpener::LogOpener(const ElAES::Key& key, unsigned codePage, Sink sink)
    : key_(key), codePage_(codePage), toUtf8_(codePage), sink_(std::move(sink)) {
    out_.reserve(flushSize + flushSize / 4);
}

void LogOpener::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto lineEnd = bytes.find('\n');
        if (lineEnd == std::string_view::npos) {
            pending_.append(bytes);
            return;
        }
        if (pending_.empty()) {
            processLine(bytes.substr(0, lineEnd));
        } else {
            pending_.append(bytes.substr(0, lineEnd));
            processLine(pending_);
            pending_.clear();
        }
        out_ += '\n';
        flushIfLarge();
        bytes.remove_prefix(lineEnd + 1);
    }
}

void LogOpener::finish() {
    if (!pending_.empty()) {
        processLine(pending_);
        pending_.clear();
    }
    if (!out_.empty()) sink_(out_);
    out_.clear();
}

void LogOpener::flushIfLarge() {
    if (out_.size() >= flushSize) {
        sink_(out_);
        out_.clear();
    }
}

void LogOpener::processLine(std::string_view line) {
    ++lineNumber_;
    if (atStart_) {
        atStart_ = false;
        if (startsWith(line, "\xEF\xBB\xBF")) {
            encoding_ = Encoding::Utf8;
            line.remove_prefix(3);
        } else if (startsWith(line, "\xFF\xFE") || startsWith(line, "\xFE\xFF")) {
            throw Exception(
                "The history is in UTF-16, which open-log does not read. Convert it to UTF-8 first, "
                "for example with: iconv -f UTF-16 -t UTF-8");
        }
    }

    // ASCII reads the same in every encoding; otherwise the first line that
    // is not ASCII tells whether the history is UTF-8 or in the code page.
    bool lineIsUtf8 = false;
    if (encoding_ != Encoding::CodePage) {
        const bool ascii = isAscii(line);
        lineIsUtf8 = ascii || utf8::isValid(line);
        if (encoding_ == Encoding::Undecided && !ascii) {
            encoding_ = lineIsUtf8 ? Encoding::Utf8 : Encoding::CodePage;
        }
    }

    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = line.find(envelope::marker, pos);
        if (at == std::string_view::npos) break;
        appendText(line.substr(pos, at - pos), lineIsUtf8);
        const std::size_t digits = at + envelope::marker.size();
        std::size_t end = digits;
        while (end < line.size() && hexDigit.digit[static_cast<unsigned char>(line[end])]) ++end;
        try {
            const auto opened = envelope::open(line.substr(digits, end - digits), key_, codePage_);
            toUtf8_.append(opened.text, out_);
            ++opened_;
        } catch (const std::exception& e) {
            // Left as it was: the marker and the digits are ASCII.
            out_.append(line.substr(at, end - at));
            ++failed_;
            if (failures_.size() < keptFailures) failures_.push_back({lineNumber_, e.what()});
        }
        pos = end;
    }
    appendText(line.substr(pos), lineIsUtf8);
}

void LogOpener::appendText(std::string_view text, bool lineIsUtf8) {
    if (lineIsUtf8) {
        out_.append(text);
    } else {
        toUtf8_.append(text, out_);
    }
}

std::string summaryOf(const LogOpener& opener) {
    if (opener.opened() == 0 && opener.failed() == 0) return "mistlock: no envelopes found.\n";
    std::string text = "mistlock: " + counted(opener.opened(), "envelope", "envelopes") + " opened";
    if (opener.failed() == 0) return text + ".\n";
    text += ", " + counted(opener.failed(), "envelope", "envelopes") +
            (opener.failed() == 1 ? " could not be opened and stays as it was:\n"
                                  : " could not be opened and stay as they were:\n");
    for (const auto& f : opener.failures()) text += "  line " + std::to_string(f.line) + ": " + f.reason + "\n";
    if (opener.failed() > opener.failures().size()) {
        text += "  ... and " + std::to_string(opener.failed() - opener.failures().size()) + " more.\n";
    }
    return text;
}

}  // namespace cli
