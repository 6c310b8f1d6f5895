#include "tools/cli/log_opener.h"

#include <algorithm>
#include <cstring>

#include "envelope/envelope.h"
#include "envelope/base64url.h"
#include "envelope/receipt.h"
#include "envelope/sealed.h"
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

// Gives onLine each line that a piece of the input ends (without its LF),
// joined to the start it had in earlier pieces; keeps an unended last line in
// pending for the next piece.
template <typename OnLine>
void eachLine(std::string& pending, std::string_view bytes, OnLine&& onLine) {
    while (!bytes.empty()) {
        const auto lineEnd = bytes.find('\n');
        if (lineEnd == std::string_view::npos) {
            pending.append(bytes);
            return;
        }
        if (pending.empty()) {
            onLine(bytes.substr(0, lineEnd));
        } else {
            pending.append(bytes.substr(0, lineEnd));
            onLine(std::string_view(pending));
            pending.clear();
        }
        bytes.remove_prefix(lineEnd + 1);
    }
}

}  // namespace

void HistoryScan::feed(std::string_view bytes) {
    if (head_.size() < 4096) head_.append(bytes.substr(0, 4096 - head_.size()));
    while (!bytes.empty()) {
        const auto lineEnd = bytes.find('\n');
        scanPiece(bytes.substr(0, lineEnd));
        if (lineEnd == std::string_view::npos) return;
        endLine();
        bytes.remove_prefix(lineEnd + 1);
    }
}

// Strict UTF-8 is valid as a whole when it is valid cut into runs before lead
// bytes (bytes that are no continuation byte): each form lies whole in one run.
void HistoryScan::scanPiece(std::string_view piece) {
    lineBytes_ += piece.size();
    const bool ascii = isAscii(piece);
    if (!ascii) {
        for (const char c : piece) lineHigh_ += static_cast<unsigned char>(c) >= 0x80;
    }
    if (!lineValid_) return;
    const auto continues = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    // The bytes that end the form begun before, at most three of them.
    std::size_t first = 0;
    while (first < piece.size() && first < 4 && continues(piece[first])) ++first;
    lastForm_.append(piece.substr(0, first));
    if (first == piece.size()) {
        // No form of more than four bytes is valid.
        if (lastForm_.size() > 4) lineValid_ = false;
        return;
    }
    // The last form may go on in the next piece.
    std::size_t last = piece.size() - 1;
    while (last > first && continues(piece[last])) --last;
    lineValid_ = utf8::isValid(lastForm_) && (ascii || utf8::isValid(piece.substr(first, last - first)));
    lastForm_.assign(piece.substr(last));
    if (lastForm_.size() > 4) lineValid_ = false;
}

void HistoryScan::endLine() {
    if (lineValid_ && !utf8::isValid(lastForm_)) lineValid_ = false;
    (lineValid_ ? validHigh_ : invalidHigh_) += lineHigh_;
    longest_ = std::max(longest_, lineBytes_);
    lineBytes_ = lineHigh_ = 0;
    lineValid_ = true;
    lastForm_.clear();
}

std::uint64_t HistoryScan::longestLine() const { return std::max(longest_, lineBytes_); }

HistoryEncoding HistoryScan::result() const {
    if (startsWith(head_, "\xFF\xFE")) return HistoryEncoding::Utf16LE;
    if (startsWith(head_, "\xFE\xFF")) return HistoryEncoding::Utf16BE;
    if (!startsWith(head_, "\xEF\xBB\xBF")) {
        std::size_t evenNuls = 0, oddNuls = 0;
        for (std::size_t i = 0; i < head_.size(); ++i) {
            if (head_[i] == '\0') ++(i % 2 ? oddNuls : evenNuls);
        }
        // Text never holds NULs; UTF-16 of anything Latin or Cyrillic holds many.
        if (oddNuls + evenNuls >= head_.size() / 8 && oddNuls + evenNuls > 0) {
            return oddNuls >= evenNuls ? HistoryEncoding::Utf16LE : HistoryEncoding::Utf16BE;
        }
    }
    HistoryScan last = *this;
    last.endLine();
    return last.invalidHigh_ > last.validHigh_ ? HistoryEncoding::CodePage : HistoryEncoding::Utf8;
}

LogOpener::LogOpener(const ElAES::Key& key, unsigned codePage, Sink sink, HistoryEncoding encoding, bool escape)
    : key_(key), codePage_(codePage), sink_(std::move(sink)), encoding_(encoding), escape_(escape) {
    toUtf8(codePage);
    out_.reserve(flushSize + flushSize / 4);
}

const CodePageToUtf8& LogOpener::toUtf8(unsigned codePage) {
    auto& converter = toUtf8_[codePage];
    if (!converter) converter = std::make_unique<CodePageToUtf8>(codePage);
    return *converter;
}

void LogOpener::feed(std::string_view bytes) {
    if (encoding_ != HistoryEncoding::Utf16LE && encoding_ != HistoryEncoding::Utf16BE) {
        feedLines(bytes);
        return;
    }
    // UTF-16 to UTF-8 before the lines are looked at; a unit, or a surrogate
    // pair, cut between two chunks waits for the rest.
    std::string units = utf16Carry_;
    units.append(bytes);
    const bool bigEndian = encoding_ == HistoryEncoding::Utf16BE;
    std::u16string text;
    std::size_t i = 0;
    for (; i + 1 < units.size(); i += 2) {
        const auto a = static_cast<unsigned char>(units[i]), b = static_cast<unsigned char>(units[i + 1]);
        text += static_cast<char16_t>(bigEndian ? a << 8 | b : b << 8 | a);
    }
    utf16Carry_ = units.substr(i);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
        utf16Carry_.insert(0, units.substr(i - 2, 2));
        text.pop_back();
    }
    if (atStart_ && !text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
    if (!text.empty()) atStart_ = false;
    const std::string utf8Text = utf8::encode(text);
    feedLines(utf8Text);
}

void LogOpener::feedLines(std::string_view bytes) {
    eachLine(pending_, bytes, [this](std::string_view line) {
        processLine(line);
        out_ += '\n';
        flushIfLarge();
    });
}

void LogOpener::expectLinesUpTo(std::uint64_t bytes) {
    if (bytes > pending_.capacity()) pending_.reserve(static_cast<std::size_t>(bytes));
}

void LogOpener::finish() {
    if (!utf16Carry_.empty()) {
        // An unpaired high surrogate, or an odd last byte: as the decoder shows it.
        const std::string rest = utf16Carry_.size() >= 2 ? utf8::encode(u"\uFFFD") : std::string();
        utf16Carry_.clear();
        feedLines(rest);
    }
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
        if (startsWith(line, "\xEF\xBB\xBF")) line.remove_prefix(3);
    }
    // Each line as the history's encoding says; in a UTF-8 history a line
    // that is not valid UTF-8 can only be in the code page.
    lineIsUtf8_ = encoding_ != HistoryEncoding::CodePage && (isAscii(line) || utf8::isValid(line));

    std::size_t pos = 0;
    for (;;) {
        const std::size_t classic = line.find(envelope::marker, pos);
        const std::size_t sealed = line.find(envelope::sealed::marker, pos);
        const std::size_t at = std::min(classic, sealed);
        if (at == std::string_view::npos) break;
        appendText(line.substr(pos, at - pos));
        pos = at == sealed ? openSealed(line, at) : openClassic(line, at);
    }
    appendText(line.substr(pos));
}

std::size_t LogOpener::openClassic(std::string_view line, std::size_t at) {
    const std::size_t digits = at + envelope::marker.size();
    std::size_t end = digits;
    while (end < line.size() && hexDigit.digit[static_cast<unsigned char>(line[end])]) ++end;
    std::optional<envelope::Received> opened;
    const CodePageToUtf8* converter = nullptr;
    try {
        // As far as its length prefix says: text glued on is not its own.
        opened = envelope::openReceived(line.substr(digits, end - digits), key_, codePage_, envelope::Extent::Prefix);
        converter = &toUtf8(opened->codePage);
    } catch (const std::exception& e) {
        notOpened(line.substr(at, end - at), e.what());
        return end;
    }
    const envelope::Received& received = *opened;
    std::size_t taken = digits + received.digits;
    // One odd digit left carries nothing, as in the plug-in.
    if (end - taken == 1) taken = end;
    appendOpened(received.text, converter);
    if (received.verified) {
        ++opened_;
    } else {
        ++unverified_;
        if (unverifiedLines_.size() <= keptFailures &&
            (unverifiedLines_.empty() || unverifiedLines_.back() != lineNumber_)) {
            unverifiedLines_.push_back(lineNumber_);
        }
    }
    if (received.codePage != codePage_) ++fromOther_[received.codePage];
    if (!received.alike.empty()) ++readAlike_;
    return taken;
}

// A sealed envelope ends at the first character outside base64url; its text
// is UTF-8 already, and is written from where it was decrypted.
std::size_t LogOpener::openSealed(std::string_view line, std::size_t at) {
    const std::size_t body = at + envelope::sealed::marker.size();
    std::size_t end = body;
    while (end < line.size() && envelope::isBase64urlCharacter(line[end])) ++end;
    std::optional<envelope::sealed::Received> received;
    std::string_view text;
    try {
        if (!sealedKey_) throw Exception(sealedNeedsSealedKey());
        received.emplace(line.substr(body, end - body));
        text = envelope::sealed::openInPlace(*received, *sealedKey_);
    } catch (const std::exception& e) {
        notOpened(line.substr(at, end - at), e.what());
        return end;
    }
    appendOpened(text, nullptr);
    ++opened_;
    ++openedSealed_;
    return end;
}

void LogOpener::appendOpened(std::string_view text, const CodePageToUtf8* toUtf8) {
    eachPiece(text, toUtf8 == nullptr, [&](std::string_view piece) {
        if (!escape_ && toUtf8) {
            toUtf8->append(piece, out_);
        } else if (!escape_) {
            out_.append(piece);
        } else if (toUtf8) {
            std::string utf8Text;
            toUtf8->append(piece, utf8Text);
            out_ += escapedForTerminal(utf8Text);
        } else {
            out_ += escapedForTerminal(piece);
        }
        flushIfLarge();
    });
}

// Left as it was: the markers, digits and base64url are ASCII.
void LogOpener::notOpened(std::string_view envelope, const char* why) {
    out_.append(envelope);
    ++failed_;
    if (failures_.size() < keptFailures) failures_.push_back({lineNumber_, why});
}

void LogOpener::openSealedWith(const ElAES::Key& sealedKey) { sealedKey_ = sealedKey; }

void LogOpener::appendText(std::string_view text) {
    if (lineIsUtf8_) {
        out_.append(text);
    } else {
        toUtf8(codePage_).append(text, out_);
    }
}

std::string alikeRule() {
    std::string order;
    for (const unsigned cp : envelope::senderCodePages) order += (order.empty() ? "" : ", ") + std::to_string(cp);
    return "this side's code page when it is one of them, else the first of them in the order " + order;
}

std::string sealedNeedsSealedKey() {
    return "The envelope is sealed (\"" + std::string(envelope::sealed::marker) +
           "\"): it opens only with a sealed key file, the one the sender's Mistlock seals with. A password or a "
           "classic key file cannot open it.";
}

std::string summaryOf(const LogOpener& opener) {
    if (opener.opened() == 0 && opener.failed() == 0 && opener.unverified() == 0) {
        return "mistlock: no envelopes found.\n";
    }
    std::string text = "mistlock: " + counted(opener.opened(), "envelope", "envelopes") + " opened";
    if (opener.openedSealed() > 0) text += " (" + std::to_string(opener.openedSealed()) + " of them sealed)";
    if (opener.unverified() > 0) text += ", " + std::to_string(opener.unverified()) + " opened, key not verifiable";
    if (opener.failed() == 0) {
        text += ".\n";
    } else {
        text += ", " + counted(opener.failed(), "envelope", "envelopes") +
                (opener.failed() == 1 ? " could not be opened and stays as it was:\n"
                                      : " could not be opened and stay as they were:\n");
        for (const auto& f : opener.failures()) text += "  line " + std::to_string(f.line) + ": " + f.reason + "\n";
        if (opener.failed() > opener.failures().size()) {
            text += "  ... and " + std::to_string(opener.failed() - opener.failures().size()) + " more.\n";
        }
    }
    if (opener.unverified() > 0) {
        const auto& lines = opener.unverifiedLines();
        const std::size_t shown = std::min(lines.size(), LogOpener::keptFailures);
        text += std::string("mistlock: key not verifiable on line") + (lines.size() == 1 ? " " : "s ");
        for (std::size_t i = 0; i < shown; ++i) text += (i ? ", " : "") + std::to_string(lines[i]);
        if (lines.size() > shown) text += " and more";
        text += ": an earlier plug-in's message of 16, 32, 48... bytes carries no check, and opened with a wrong key "
                "it is unrelated bytes. Compare the key check codes ('mistlock key-id').\n";
    }
    if (opener.readAlike() > 0) {
        text += "mistlock: " + counted(opener.readAlike(), "envelope reads", "envelopes read") +
                " the same through several code pages, but not the message's characters: each is shown as sealed on " +
                alikeRule() + ". 'mistlock open' names the code pages of one.\n";
    }
    if (!opener.fromOtherCodePages().empty()) {
        text += "mistlock: sealed on another code page and converted:";
        for (const auto& [cp, n] : opener.fromOtherCodePages()) text += " " + std::to_string(n) + " on " + std::to_string(cp);
        text += ".\n";
    }
    return text;
}

}  // namespace cli
