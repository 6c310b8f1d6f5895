#pragma once
// Bytes spelled as hexadecimal digits, the way every part of Mistlock writes
// them (the envelope's payload, the command line's --hex, the reference
// messenger's log): two uppercase digits a byte, high nibble first. Either
// case is read back, since people and other programs may write lowercase.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char hexDigits[] = "0123456789ABCDEF";

// The value of a digit of either case; -1 for any other character.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes as two uppercase digits each.
inline std::string toHex(std::string_view bytes) {
    std::string out(2 * bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = hexDigits[b >> 4];
        out[2 * i + 1] = hexDigits[b & 15];
    }
    return out;
}

}  // namespace platform
