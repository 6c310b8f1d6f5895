#include "tools/cli/message_text.h"

#include <vector>

#include "platform/exception.h"
#include "platform/hex.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace cli {

namespace {

constexpr std::string_view hexPrefix = "hex:";

std::string rawBytes(std::string_view digits) {
    if (digits.size() % 2 != 0) {
        throw TextError("After \"hex:\" come pairs of hex digits, two for each byte; " + std::to_string(digits.size()) +
                        " digits cannot be whole bytes.");
    }
    std::string bytes(digits.size() / 2, '\0');
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int v = platform::hexDigitValue(digits[i]);
        if (v < 0) {
            throw TextError("After \"hex:\" only hex digits may follow; character " + std::to_string(i + 1) +
                            " of them is not one.");
        }
        bytes[i / 2] = static_cast<char>(i % 2 == 0 ? v << 4 : (static_cast<unsigned char>(bytes[i / 2]) | v));
    }
    return bytes;
}

}  // namespace

MessageBytes messageFromText(std::string_view text, unsigned codePage) {
    if (text.substr(0, hexPrefix.size()) == hexPrefix) return {rawBytes(text.substr(hexPrefix.size())), 0};
    const auto wide = utf8::decode(text);
    if (!wide) {
        throw TextError("The text is not valid UTF-8. Give the message's bytes as \"hex:\" and hex digits instead.");
    }
    MessageBytes out;
    out.bytes = platform::narrowCodePage(codePage, *wide);
    // A character the code page holds is one of the 256 its bytes widen to;
    // any other is replaced on the way, as the messenger would replace it.
    std::string everyByte(256, '\0');
    for (int b = 0; b < 256; ++b) everyByte[b] = static_cast<char>(b);
    std::vector<bool> held(0x10000, false);
    for (const char16_t c : platform::widenCodePage(codePage, everyByte)) held[c] = true;
    for (std::size_t j = 0; j < wide->size(); ++j) {
        const char16_t c = (*wide)[j];
        if (c >= 0xD800 && c <= 0xDBFF && j + 1 < wide->size()) ++j;  // a pair is one character
        if (!held[c]) ++out.unmappable;
    }
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
