#include "tools/cli/message_text.h"

#include <vector>

#include "platform/exception.h"
#include "platform/hex.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace cli {

namespace {

constexpr std::string_view hexPrefix = "hex:";

// The digits after "hex:" at the start of text become its bytes, where they lie.
void rawBytesInPlace(std::string& text) {
    const std::string_view digits = std::string_view(text).substr(hexPrefix.size());
    if (digits.size() % 2 != 0) {
        throw TextError("After \"hex:\" come pairs of hex digits, two for each byte; " + std::to_string(digits.size()) +
                        " digits cannot be whole bytes.");
    }
    // Byte i/2 lies before digit i: each digit is read before its place is written.
    char* const bytes = text.data();
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int v = platform::hexDigitValue(digits[i]);
        if (v < 0) {
            throw TextError("After \"hex:\" only hex digits may follow; character " + std::to_string(i + 1) +
                            " of them is not one.");
        }
        bytes[i / 2] = static_cast<char>(i % 2 == 0 ? v << 4 : (static_cast<unsigned char>(bytes[i / 2]) | v));
    }
    text.resize(digits.size() / 2);
}

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where a piece of about `size` bytes of the text may end: never between a CR
// and its LF, nor (utf8) inside a character's form. A piece of UTF-8 text is
// whole characters, and strict decoding of the pieces fails where that of the
// whole does.
std::size_t pieceEnd(std::string_view text, std::size_t size, bool utf8) {
    if (text.size() <= size) return text.size();
    std::size_t cut = size;
    while (cut > 1 && ((text[cut - 1] == '\r' && text[cut] == '\n') || (utf8 && isContinuationByte(text[cut])))) --cut;
    return cut;
}

constexpr std::size_t pieceSize = 1 << 20;

}  // namespace

MessageBytes messageFromText(std::string_view text, unsigned codePage) {
    return messageFromText(std::string(text), codePage);
}

MessageBytes messageFromText(std::string&& text, unsigned codePage) {
    MessageBytes out;
    if (text.substr(0, hexPrefix.size()) == hexPrefix) {
        rawBytesInPlace(text);
        out.bytes = std::move(text);
        return out;
    }
    // A character the code page holds is one of the 256 its bytes widen to;
    // any other is replaced on the way, as the messenger would replace it.
    std::string everyByte(256, '\0');
    for (int b = 0; b < 256; ++b) everyByte[b] = static_cast<char>(b);
    std::vector<bool> held(0x10000, false);
    for (const char16_t c : platform::widenCodePage(codePage, everyByte)) held[c] = true;
    // A piece at a time, written back where the text was: a character of
    // UTF-8 never gives more bytes in a code page (and should one, the rest of
    // the text moves up to make room).
    std::size_t written = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view rest = std::string_view(text).substr(at);
        const std::string_view piece = rest.substr(0, pieceEnd(rest, pieceSize, true));
        const auto wide = utf8::decode(piece);
        if (!wide) {
            throw TextError(
                "The text is not valid UTF-8. Give the message's bytes as \"hex:\" and hex digits instead.");
        }
        for (std::size_t j = 0; j < wide->size(); ++j) {
            const char16_t c = (*wide)[j];
            if (c >= 0xD800 && c <= 0xDBFF && j + 1 < wide->size()) ++j;  // a pair is one character
            if (!held[c]) ++out.unmappable;
        }
        const std::string narrowed = platform::narrowCodePage(codePage, *wide);
        const std::size_t end = at + piece.size();
        if (narrowed.size() <= end - written) {
            narrowed.copy(text.data() + written, narrowed.size());
            at = end;
        } else {
            text.replace(written, end - written, narrowed);
            at = written + narrowed.size();
        }
        written += narrowed.size();
    }
    text.resize(written);
    out.bytes = std::move(text);
    return out;
}

std::string textFromMessage(std::string_view bytes, unsigned codePage) {
    return utf8::encode(platform::widenCodePage(codePage, bytes));
}

CodePageToUtf8::CodePageToUtf8(unsigned codePage) {
    std::string everyByte(256, '\0');
    for (int b = 0; b < 256; ++b) everyByte[b] = static_cast<char>(b);
    const std::u16string wide = platform::widenCodePage(codePage, everyByte);
    if (wide.size() != 256) throw Exception("Code page " + std::to_string(codePage) + " is not a single-byte code page.");
    for (int b = 0; b < 256; ++b) {
        const std::string sequence = utf8::encode(wide.substr(b, 1));
        sequence.copy(sequences_[b], 3);
        sequences_[b][3] = static_cast<char>(sequence.size());
    }
}

void CodePageToUtf8::append(std::string_view bytes, std::string& out) const {
    const std::size_t start = out.size();
    out.resize(start + 3 * bytes.size());
    char* p = out.data() + start;
    for (const char c : bytes) {
        const char* s = sequences_[static_cast<unsigned char>(c)];
        p[0] = s[0];
        p[1] = s[1];
        p[2] = s[2];
        p += s[3];
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string escapedForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool crlf = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if ((c < 0x20 && c != '\t' && c != '\n' && !crlf) || c == 0x7F) {
            out += "\\x";
            out += platform::hexDigits[c >> 4];
            out += platform::hexDigits[c & 15];
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            const auto unit = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += platform::hexDigits[unit >> 4];
            out += platform::hexDigits[unit & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void eachPiece(std::string_view text, bool utf8, const std::function<void(std::string_view)>& take) {
    while (!text.empty()) {
        const std::size_t end = pieceEnd(text, pieceSize, utf8);
        take(text.substr(0, end));
        text.remove_prefix(end);
    }
}

std::string_view withoutFinalLineBreak(std::string_view input) {
    if (!input.empty() && input.back() == '\n') {
        input.remove_suffix(1);
        if (!input.empty() && input.back() == '\r') input.remove_suffix(1);
    }
    return input;
}

std::string_view trimBlanks(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace cli
