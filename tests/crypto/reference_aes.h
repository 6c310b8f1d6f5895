#pragma once
// A plain byte-by-byte AES-256 written straight from FIPS-197 (Cipher,
// InvCipher and KeyExpansion on a 4x4 byte state), sharing nothing with the
// table-driven unit under test. Slow on purpose; used as an oracle for random
// keys and blocks.
#include <array>
#include <cstdint>

namespace reference {

using Word = std::array<std::uint8_t, 4>;  // row 0 first
using State = std::array<std::array<std::uint8_t, 4>, 4>;  // [row][column]

inline std::uint8_t xtime(std::uint8_t a) {
    return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
}

inline std::uint8_t mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1 << bit)) r ^= a;
        a = xtime(a);
    }
    return r;
}

struct Boxes {
    std::uint8_t s[256];
    std::uint8_t si[256];
    Boxes() {
        for (int x = 0; x < 256; ++x) {
            std::uint8_t inv = 0;  // found by search: 0 has no inverse and maps to 0
            for (int y = 1; y < 256 && x != 0; ++y) {
                if (mul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
                    inv = static_cast<std::uint8_t>(y);
                    break;
                }
            }
            // b'_i = b_i ^ b_(i+4) ^ b_(i+5) ^ b_(i+6) ^ b_(i+7) ^ c_i, c = 0x63
            std::uint8_t out = 0;
            for (int i = 0; i < 8; ++i) {
                int bit = ((inv >> i) ^ (inv >> ((i + 4) % 8)) ^ (inv >> ((i + 5) % 8)) ^ (inv >> ((i + 6) % 8)) ^
                           (inv >> ((i + 7) % 8)) ^ (0x63 >> i)) & 1;
                out = static_cast<std::uint8_t>(out | (bit << i));
            }
            s[x] = out;
        }
        for (int x = 0; x < 256; ++x) si[s[x]] = static_cast<std::uint8_t>(x);
    }
};

inline const Boxes& boxes() {
    static const Boxes b;
    return b;
}

// KeyExpansion with Nk = 8, run on to i < count (60 for the cipher, 64 for
// the words of the whole last pass).
inline std::array<Word, 64> expandKey(const std::array<std::uint8_t, 32>& key, int count = 64) {
    std::array<Word, 64> w{};
    for (int i = 0; i < 8; ++i) w[i] = {key[4 * i], key[4 * i + 1], key[4 * i + 2], key[4 * i + 3]};
    std::uint8_t rcon = 1;
    for (int i = 8; i < count; ++i) {
        Word temp = w[i - 1];
        if (i % 8 == 0) {
            temp = {temp[1], temp[2], temp[3], temp[0]};
            for (auto& b : temp) b = boxes().s[b];
            temp[0] ^= rcon;
            rcon = xtime(rcon);
        } else if (i % 8 == 4) {
            for (auto& b : temp) b = boxes().s[b];
        }
        for (int r = 0; r < 4; ++r) w[i][r] = static_cast<std::uint8_t>(w[i - 8][r] ^ temp[r]);
    }
    return w;
}

inline void addRoundKey(State& s, const std::array<Word, 64>& w, int round) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) s[r][c] ^= w[4 * round + c][r];
}

inline State load(const std::array<std::uint8_t, 16>& in) {
    State s{};
    for (int i = 0; i < 16; ++i) s[i % 4][i / 4] = in[i];
    return s;
}

inline std::array<std::uint8_t, 16> store(const State& s) {
    std::array<std::uint8_t, 16> out{};
    for (int i = 0; i < 16; ++i) out[i] = s[i % 4][i / 4];
    return out;
}

// MixColumns of one column, and its inverse.
inline Word mixColumn(const Word& a) {
    Word b{};
    for (int r = 0; r < 4; ++r)
        b[r] = static_cast<std::uint8_t>(mul(a[r], 2) ^ mul(a[(r + 1) % 4], 3) ^ a[(r + 2) % 4] ^ a[(r + 3) % 4]);
    return b;
}

inline Word invMixColumn(const Word& a) {
    Word b{};
    for (int r = 0; r < 4; ++r)
        b[r] = static_cast<std::uint8_t>(mul(a[r], 14) ^ mul(a[(r + 1) % 4], 11) ^ mul(a[(r + 2) % 4], 13) ^
                                         mul(a[(r + 3) % 4], 9));
    return b;
}

inline std::array<std::uint8_t, 16> cipher(const std::array<std::uint8_t, 16>& in,
                                           const std::array<std::uint8_t, 32>& key) {
    const auto w = expandKey(key, 60);
    State s = load(in);
    addRoundKey(s, w, 0);
    for (int round = 1; round <= 14; ++round) {
        for (auto& row : s)
            for (auto& b : row) b = boxes().s[b];
        State shifted{};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) shifted[r][c] = s[r][(c + r) % 4];
        s = shifted;
        if (round != 14) {
            for (int c = 0; c < 4; ++c) {
                const Word col = mixColumn({s[0][c], s[1][c], s[2][c], s[3][c]});
                for (int r = 0; r < 4; ++r) s[r][c] = col[r];
            }
        }
        addRoundKey(s, w, round);
    }
    return store(s);
}

inline std::array<std::uint8_t, 16> invCipher(const std::array<std::uint8_t, 16>& in,
                                              const std::array<std::uint8_t, 32>& key) {
    const auto w = expandKey(key, 60);
    State s = load(in);
    addRoundKey(s, w, 14);
    for (int round = 13; round >= 0; --round) {
        State shifted{};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) shifted[r][(c + r) % 4] = s[r][c];
        s = shifted;
        for (auto& row : s)
            for (auto& b : row) b = boxes().si[b];
        addRoundKey(s, w, round);
        if (round != 0) {
            for (int c = 0; c < 4; ++c) {
                const Word col = invMixColumn({s[0][c], s[1][c], s[2][c], s[3][c]});
                for (int r = 0; r < 4; ++r) s[r][c] = col[r];
            }
        }
    }
    return store(s);
}

}  // namespace reference
