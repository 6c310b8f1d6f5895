#pragma once
// AES-256-GCM (NIST SP 800-38D): authenticated encryption over the AES unit.
//
// A nonce of any length from 1 byte (12 bytes is the usual, and the fastest:
// the counter starts from it directly; any other length is hashed first),
// associated data of any length, tags of 16, 15, 14, 13, 12, 8 or 4 bytes.
// A key must never seal two messages under the same nonce: that gives away
// the hash key and so every tag.
//
// Opening computes the tag over the ciphertext and compares it with the one
// given in constant time; only when they match is the plaintext left in the
// output. On a mismatch the output is zeros and the call says so.
//
// Side channels: on the AES-instruction paths no table is read and no branch
// or address depends on the key, the hash key or the data (the hash runs on
// carry-less multiplication). The portable path's hash is constant-time too
// (integer multiplication, no table), but its cipher is the table-based one
// (ElAES.h), which is not.
//
// The key material (round keys, the hash key and its powers) lives in the
// GcmKey and is wiped when it is destroyed; the keystream and the hash state
// of a call are wiped before the call returns.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "crypto/gcm_dispatch.h"

namespace ElAES {

// The usual nonce length, and the full tag.
constexpr std::size_t kGcmNonceSize = 12;
constexpr std::size_t kGcmTagSize = 16;

// One AES-256 key made ready for GCM, on the chosen path (gcm_dispatch.h) or
// on a given one. Construction costs about the encryption of a few blocks: the
// key schedule, the hash key and its powers.
class GcmKey {
public:
    explicit GcmKey(const Key& key);
    GcmKey(const Key& key, const gcm::GcmTable& path);
    ~GcmKey();
    GcmKey(const GcmKey&) = delete;
    GcmKey& operator=(const GcmKey&) = delete;

    // Encrypts `size` bytes from in to out (the same storage, or apart: no
    // other overlap) and writes tagSize bytes of the tag. Raises EAESError for
    // an empty nonce, a tag length GCM does not allow, or more than 2^36 - 32
    // bytes of plaintext.
    void seal(std::string_view nonce, std::string_view associatedData, const std::uint8_t* in, std::size_t size,
              std::uint8_t* out, std::uint8_t* tag, std::size_t tagSize = kGcmTagSize) const;

    // Decrypts `size` bytes from in to out (as for seal) when the tag of
    // tagSize bytes matches: true. Otherwise false, and out holds `size`
    // zeros. The same errors as seal.
    bool open(std::string_view nonce, std::string_view associatedData, const std::uint8_t* in, std::size_t size,
              const std::uint8_t* tag, std::size_t tagSize, std::uint8_t* out) const;

    // The path this key was made for.
    const gcm::GcmTable& path() const { return table_; }

private:
    const gcm::GcmTable& table_;
    gcm::KeyMaterial material_;
};

// The ciphertext followed by the 16-byte tag.
std::string gcmSeal(const Key& key, std::string_view nonce, std::string_view associatedData,
                    std::string_view plaintext);

// The plaintext of ciphertext-and-tag as gcmSeal makes them; nullopt when the
// tag does not match (or there are fewer than 16 bytes).
std::optional<std::string> gcmOpen(const Key& key, std::string_view nonce, std::string_view associatedData,
                                   std::string_view sealed);

}  // namespace ElAES
