#pragma once
// Helpers of the cipher tests: hexadecimal conversion and the location of the
// test data files.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/ElAES.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument(std::string("not a hexadecimal digit: ") + c);
}

// Hexadecimal digits to bytes; spaces are skipped.
inline Bytes fromHex(const std::string& text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        const int digit = hexDigit(c);
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hexadecimal digits: " + text);
    return bytes;
}

template <typename Range>
std::string toHex(const Range& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

template <std::size_t N>
std::array<std::uint8_t, N> arrayFromHex(const std::string& text) {
    const Bytes bytes = fromHex(text);
    if (bytes.size() != N) throw std::invalid_argument("expected " + std::to_string(N) + " bytes: " + text);
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = bytes[i];
    return out;
}

inline ElAES::Key keyFromHex(const std::string& text) { return arrayFromHex<32>(text); }
inline ElAES::Block blockFromHex(const std::string& text) { return arrayFromHex<16>(text); }

// Schedule word i in FIPS-197 notation: its four bytes, row 0 first.
inline std::string wordHex(const ElAES::Schedule& schedule, unsigned i) {
    const std::uint32_t w = schedule.w[i];
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
                                   static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 24)};
    return toHex(bytes);
}

inline std::string bytesToString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
inline Bytes stringToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Opens a file below tests/data. Under Wine a Linux absolute path is reached
// through the Z: drive; the plain path is tried first.
inline std::FILE* openDataFile(const std::string& relative) {
    const std::string path = std::string(MISTLOCK_TEST_DATA) + "/" + relative;
    std::FILE* file = std::fopen(path.c_str(), "rb");
#ifdef _WIN32
    if (file == nullptr && !path.empty() && path[0] == '/') {
        file = std::fopen(("Z:" + path).c_str(), "rb");
    }
#endif
    if (file == nullptr) throw std::runtime_error("cannot open test data file " + path);
    return file;
}

// The lines of a data file, without line ends (LF or CRLF).
inline std::vector<std::string> readDataLines(const std::string& relative) {
    std::FILE* file = openDataFile(relative);
    std::string text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace testsupport
