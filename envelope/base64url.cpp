#include "envelope/base64url.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace envelope {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Two characters for every 12 bits: three bytes take two lookups and two
// stores, where a table of 64 takes four of each. A sealed envelope of 64 KiB
// has 87,000 characters, and this is most of the work of writing them.
struct Pairs {
    char text[4096][2];
    constexpr Pairs() : text{} {
        for (int i = 0; i < 4096; ++i) {
            text[i][0] = alphabet[i >> 6];
            text[i][1] = alphabet[i & 63];
        }
    }
};
constexpr Pairs pairs;

// The value of each character shifted to where the k-th character of a
// group of four puts it; a character outside the alphabet sets the top bit,
// so that one OR over a whole text tells whether any was.
constexpr std::uint32_t invalid = 0x80000000u;
struct Values {
    std::uint32_t at[4][256];
    constexpr Values() : at{} {
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < 256; ++c) at[k][c] = invalid;
            for (std::uint32_t v = 0; v < 64; ++v) at[k][static_cast<unsigned char>(alphabet[v])] = v << (18 - 6 * k);
        }
    }
};
constexpr Values values;

std::uint32_t valueOf(int k, char c) { return values.at[k][static_cast<unsigned char>(c)]; }

}  // namespace

bool isBase64urlCharacter(char c) { return valueOf(3, c) != invalid; }

void appendBase64url(std::string& out, std::string_view bytes) {
    const std::size_t whole = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    const std::size_t start = out.size();
    out.resize(start + 4 * whole + (rest ? rest + 1 : 0));
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* to = out.data() + start;
    for (std::size_t i = 0; i < whole; ++i, in += 3, to += 4) {
        const std::uint32_t group = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
        std::memcpy(to, pairs.text[group >> 12], 2);
        std::memcpy(to + 2, pairs.text[group & 0xFFF], 2);
    }
    if (rest == 0) return;
    const std::uint32_t group = std::uint32_t{in[0]} << 16 | (rest == 2 ? std::uint32_t{in[1]} << 8 : 0);
    std::memcpy(to, pairs.text[group >> 12], 2);
    if (rest == 2) to[2] = pairs.text[group & 0xFFF][0];
}

bool appendBase64urlBytes(std::string& out, std::string_view text) {
    const std::size_t whole = text.size() / 4;
    const std::size_t rest = text.size() % 4;
    if (rest == 1) return false;
    const std::size_t start = out.size();
    out.resize(start + 3 * whole + (rest ? rest - 1 : 0));
    const char* in = text.data();
    auto* to = reinterpret_cast<unsigned char*>(out.data() + start);
    // Every group is decoded, a fault or not; the faults are looked at once.
    std::uint32_t faults = 0;
    for (std::size_t i = 0; i < whole; ++i, in += 4, to += 3) {
        const std::uint32_t group = valueOf(0, in[0]) | valueOf(1, in[1]) | valueOf(2, in[2]) | valueOf(3, in[3]);
        faults |= group;
        to[0] = static_cast<unsigned char>(group >> 16);
        to[1] = static_cast<unsigned char>(group >> 8);
        to[2] = static_cast<unsigned char>(group);
    }
    if (rest != 0) {
        std::uint32_t group = valueOf(0, in[0]) | valueOf(1, in[1]);
        if (rest == 3) group |= valueOf(2, in[2]);
        // The bits below the last whole byte must be zero: 4 of them after
        // two characters, 2 after three.
        const std::uint32_t unused = rest == 2 ? 0xFFFF : 0xFF;
        faults |= group | (group & unused ? invalid : 0);
        to[0] = static_cast<unsigned char>(group >> 16);
        if (rest == 3) to[1] = static_cast<unsigned char>(group >> 8);
    }
    return (faults & invalid) == 0;
}

}  // namespace envelope
