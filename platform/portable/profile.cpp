// A profile (INI) reader that behaves as GetPrivateProfileStringW does for what
// the plug-in relies on: section and key names in any letter case, blanks
// around names and values ignored, the first of duplicate keys and sections
// wins, a line without "=" names no key, a value
// cut to 2047 characters, UTF-16LE with a byte-order mark or else the ANSI
// code page, ';' starting a comment line.
#include <algorithm>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr std::size_t maxValueLength = 2047;

std::u16string decodeProfile(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return text;
    }
    return widen(bytes);
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string trim(std::u16string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return std::u16string(s.substr(b, e - b));
}

char16_t fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);  // Cyrillic а-я
    if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);  // ѐ-џ
    if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool equalNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

}  // namespace

std::optional<std::u16string> readProfileString(const std::u16string& path, const std::u16string& section,
                                                const std::u16string& key) {
    std::u16string text;
    // As GetPrivateProfileStringW: a file out of reach reads as absent.
    try {
        if (!fileExists(path)) return std::nullopt;
        text = decodeProfile(readFile(path));
    } catch (const Exception&) {
        return std::nullopt;
    }
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string line = trim(std::u16string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            // Only the first section of the name is searched.
            if (inSection) return std::nullopt;
            const auto close = line.find(u']');
            const std::u16string name = trim(std::u16string_view(line).substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1));
            inSection = equalNoCase(name, section);
            continue;
        }
        if (!inSection) continue;
        const auto eq = line.find(u'=');
        if (eq == std::u16string::npos) continue;  // a line without "=" names no key
        const std::u16string name = trim(std::u16string_view(line).substr(0, eq));
        if (!equalNoCase(name, key)) continue;
        std::u16string value = trim(std::u16string_view(line).substr(eq + 1));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (value.size() > maxValueLength) value.resize(maxValueLength);
        return value;
    }
    return std::nullopt;
}

}  // namespace platform
