#include "platform/text_file.h"

#include "platform/platform.h"
#include "platform/utf8.h"

namespace platform {

namespace {

bool startsWith(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

std::u16string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return text;
}

std::string encodeUtf16(std::u16string_view text, bool bigEndian) {
    std::string bytes(2 * text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char hi = static_cast<char>(text[i] >> 8), lo = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i] = bigEndian ? hi : lo;
        bytes[2 * i + 1] = bigEndian ? lo : hi;
    }
    return bytes;
}

}  // namespace

DecodedText decodeText(std::string_view bytes, const std::string& fileName) {
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        auto text = utf8::decode(bytes.substr(3));
        if (!text) throw Exception("The file \"" + fileName + "\" is marked as UTF-8 but is not valid UTF-8.");
        return {std::move(*text), TextEncoding::Utf8};
    }
    const bool odd = bytes.size() % 2 != 0;
    if (startsWith(bytes, "\xFF\xFE")) return {decodeUtf16(bytes.substr(2), false), TextEncoding::Utf16LE, odd};
    if (startsWith(bytes, "\xFE\xFF")) return {decodeUtf16(bytes.substr(2), true), TextEncoding::Utf16BE, odd};
    return {platform::widen(bytes), TextEncoding::Ansi};
}

std::u16string_view untilNul(std::u16string_view text) {
    const auto nul = text.find(u'\0');
    return nul == std::u16string_view::npos ? text : text.substr(0, nul);
}

std::u16string normaliseLineBreaks(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            out += u"\r\n";
        } else if (c == u'\n') {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string encodeText(std::u16string_view text, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8: return "\xEF\xBB\xBF" + utf8::encode(text);
        case TextEncoding::Utf16LE: return "\xFF\xFE" + encodeUtf16(text, false);
        case TextEncoding::Utf16BE: return "\xFE\xFF" + encodeUtf16(text, true);
        case TextEncoding::Ansi: break;
    }
    return platform::narrow(text);
}

std::string encodeTextWhole(std::u16string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::Ansi) {
        std::string narrowed = platform::narrow(text);
        if (platform::widen(narrowed) == text) return narrowed;
        encoding = TextEncoding::Utf8;
    }
    if (encoding == TextEncoding::Utf8 && utf8::decode(utf8::encode(text)) != text) encoding = TextEncoding::Utf16LE;
    return encodeText(text, encoding);
}

}  // namespace platform
