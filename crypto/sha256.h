#pragma once
// SHA-256 (FIPS 180-4), HMAC-SHA256 (RFC 2104) and PBKDF2-HMAC-SHA256
// (RFC 8018): what the key check code is derived with. Plain C++ over bytes,
// the same on little- and big-endian machines; the product takes nothing from
// outside libraries.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ElAES {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    // Wipes the state: it may be derived from a key.
    ~Sha256();
    Sha256(const Sha256&) = default;
    Sha256& operator=(const Sha256&) = default;

    void update(const std::uint8_t* data, std::size_t size);
    void update(std::string_view bytes);
    // The digest of everything given; the object is spent afterwards.
    Digest finish();

private:
    void compress(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64] = {};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes given so far
};

Digest sha256(std::string_view bytes);

Digest hmacSha256(std::string_view key, std::string_view message);

// derivedLength bytes at `out` from the password and the salt after
// `iterations` rounds (at least 1). Each round costs two SHA-256 compressions.
void pbkdf2HmacSha256(std::string_view password, std::string_view salt, std::uint32_t iterations,
                      std::uint8_t* out, std::size_t derivedLength);

}  // namespace ElAES
