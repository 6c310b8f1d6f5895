#pragma once
// HKDF with HMAC-SHA256 (RFC 5869): a key of any length from input key
// material that may not be uniformly random, bound to a salt and to what the
// key is for (info).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/sha256.h"

namespace ElAES {

// The pseudorandom key: HMAC-SHA256 keyed with the salt (32 zero bytes when
// the salt is empty) over the input key material.
Digest hkdfExtract(std::string_view salt, std::string_view inputKeyMaterial);

// `length` bytes of output key material at `out`, at most 255 * 32 (8160):
// more raises EAESError.
void hkdfExpand(const Digest& pseudorandomKey, std::string_view info, std::uint8_t* out, std::size_t length);

// Extract, then expand; the pseudorandom key is wiped.
void hkdfSha256(std::string_view salt, std::string_view inputKeyMaterial, std::string_view info, std::uint8_t* out,
                std::size_t length);

}  // namespace ElAES
