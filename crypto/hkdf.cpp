#include "crypto/hkdf.h"

#include <cstring>
#include <string>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"

namespace ElAES {

namespace {

std::string_view viewOf(const Digest& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

}  // namespace

Digest hkdfExtract(std::string_view salt, std::string_view inputKeyMaterial) {
    // An empty salt is HashLen zeros; HMAC pads a shorter key with zeros to
    // its block anyway, so the two keys are the same.
    return hmacSha256(salt, inputKeyMaterial);
}

void hkdfExpand(const Digest& pseudorandomKey, std::string_view info, std::uint8_t* out, std::size_t length) {
    constexpr std::size_t kHashSize = sizeof(Digest);
    if (length > 255 * kHashSize) throw EAESError("HKDF-SHA256 gives at most 8160 bytes of key material");
    // T(i) = HMAC(PRK, T(i-1) || info || i), T(0) empty.
    std::string message;
    Digest block{};
    for (std::size_t i = 1; length > 0; ++i) {
        message.assign(i == 1 ? std::string_view() : viewOf(block));
        message.append(info);
        message.push_back(static_cast<char>(i));
        block = hmacSha256(viewOf(pseudorandomKey), message);
        const std::size_t n = length < kHashSize ? length : kHashSize;
        std::memcpy(out, block.data(), n);
        out += n;
        length -= n;
    }
    wipe(message);
    wipeObject(block);
}

void hkdfSha256(std::string_view salt, std::string_view inputKeyMaterial, std::string_view info, std::uint8_t* out,
                std::size_t length) {
    Digest key = hkdfExtract(salt, inputKeyMaterial);
    const WipeOnExit wipeKey(key);
    hkdfExpand(key, info, out, length);
}

}  // namespace ElAES
