#include "crypto/sha256.h"

#include <cstring>

#include "crypto/wipe.h"

namespace ElAES {

namespace {

constexpr std::uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t initialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t loadBigEndian(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void storeBigEndian(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

const std::uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

}  // namespace

Sha256::Sha256() { std::memcpy(state_, initialState, sizeof state_); }

Sha256::~Sha256() {
    wipe(state_, sizeof state_);
    wipe(buffer_, sizeof buffer_);
}

void Sha256::compress(const std::uint8_t* block) {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = loadBigEndian(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                                 roundConstants[t] + w[t];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
    wipe(w, sizeof w);
}

void Sha256::update(const std::uint8_t* data, std::size_t size) {
    length_ += size;
    if (buffered_ > 0) {
        const std::size_t n = size < 64 - buffered_ ? size : 64 - buffered_;
        std::memcpy(buffer_ + buffered_, data, n);
        buffered_ += n;
        data += n;
        size -= n;
        if (buffered_ < 64) return;
        compress(buffer_);
        buffered_ = 0;
    }
    for (; size >= 64; data += 64, size -= 64) compress(data);
    if (size > 0) std::memcpy(buffer_, data, size);
    buffered_ = size;
}

void Sha256::update(std::string_view bytes) { update(bytesOf(bytes), bytes.size()); }

Digest Sha256::finish() {
    const std::uint64_t bits = length_ * 8;
    std::uint8_t tail[72] = {0x80};
    // The 0x80, zeros up to 56 bytes past a block boundary, then the length.
    const std::size_t padding = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(tail, padding + 8);
    Digest digest;
    for (int i = 0; i < 8; ++i) storeBigEndian(state_[i], digest.data() + 4 * i);
    return digest;
}

Digest sha256(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.finish();
}

namespace {

// HMAC's two hash states after the padded key: every message then costs only
// its own blocks.
struct HmacKey {
    Sha256 inner, outer;
    explicit HmacKey(std::string_view key) {
        std::uint8_t block[64] = {};
        if (key.size() > 64) {
            Digest digest = sha256(key);
            std::memcpy(block, digest.data(), digest.size());
            wipeObject(digest);
        } else {
            std::memcpy(block, key.data(), key.size());
        }
        std::uint8_t pad[64];
        for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x36;
        inner.update(pad, 64);
        for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x5c;
        outer.update(pad, 64);
        wipe(block, sizeof block);
        wipe(pad, sizeof pad);
    }
    Digest mac(const std::uint8_t* message, std::size_t size) const {
        Sha256 in = inner;
        in.update(message, size);
        Digest innerDigest = in.finish();
        Sha256 out = outer;
        out.update(innerDigest.data(), innerDigest.size());
        wipeObject(innerDigest);
        return out.finish();
    }
};

}  // namespace

Digest hmacSha256(std::string_view key, std::string_view message) {
    return HmacKey(key).mac(bytesOf(message), message.size());
}

void pbkdf2HmacSha256(std::string_view password, std::string_view salt, std::uint32_t iterations, std::uint8_t* out,
                      std::size_t derivedLength) {
    const HmacKey prf(password);
    for (std::uint32_t blockIndex = 1; derivedLength > 0; ++blockIndex) {
        // U1 = PRF(P, S || INT(i)); T = U1 ^ U2 ^ ... ^ Uc.
        Sha256 first = prf.inner;
        first.update(bytesOf(salt), salt.size());
        std::uint8_t index[4];
        storeBigEndian(blockIndex, index);
        first.update(index, 4);
        Digest u = first.finish();
        Sha256 outer = prf.outer;
        outer.update(u.data(), u.size());
        u = outer.finish();
        Digest t = u;
        for (std::uint32_t round = 1; round < iterations; ++round) {
            u = prf.mac(u.data(), u.size());
            for (std::size_t i = 0; i < t.size(); ++i) t[i] ^= u[i];
        }
        const std::size_t n = derivedLength < t.size() ? derivedLength : t.size();
        std::memcpy(out, t.data(), n);
        out += n;
        derivedLength -= n;
        wipeObject(u);
        wipeObject(t);
    }
}

}  // namespace ElAES
