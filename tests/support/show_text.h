#pragma once
// UTF-16 text in a printable form for test messages: ASCII as it is, every
// other unit as \uXXXX.
#include <cstdio>
#include <string>

inline std::string show(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buffer[12];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}
