// The mode around the paths' runs of whole blocks: the first counter block
// from the nonce, the associated data, a last partial block, the lengths, the
// tag and its comparison. Written once for every path.
#include "crypto/gcm.h"

#include <cstring>

#include "crypto/gcm_internal.h"
#include "crypto/wipe.h"

namespace ElAES {

using gcm::FieldElement;
using gcm::GcmTable;
using gcm::KeyMaterial;

namespace {

// 2^39 - 256 bits of plaintext: the 32-bit count of counter blocks runs out
// there. Nonce and associated data are counted in 64-bit bit lengths.
constexpr std::uint64_t kMaxText = (std::uint64_t{1} << 36) - 32;
constexpr std::uint64_t kMaxHashed = (std::uint64_t{1} << 61) - 1;

const std::uint8_t* bytesOf(std::string_view text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

void checkArguments(std::string_view nonce, std::string_view associatedData, std::size_t size, std::size_t tagSize) {
    if (nonce.empty()) throw EAESError("AES-GCM needs a nonce of at least one byte");
    if (nonce.size() > kMaxHashed || associatedData.size() > kMaxHashed) {
        throw EAESError("AES-GCM takes at most 2^61 - 1 bytes of nonce or associated data");
    }
    if (size > kMaxText) throw EAESError("AES-GCM encrypts at most 2^36 - 32 bytes under one nonce");
    if (tagSize != 4 && tagSize != 8 && (tagSize < 12 || tagSize > 16)) {
        throw EAESError("An AES-GCM tag has 16, 15, 14, 13, 12, 8 or 4 bytes, not " + std::to_string(tagSize));
    }
}

// x times an element: the hash key enters every product so (gcm_dispatch.h).
FieldElement timesX(const FieldElement& v) {
    const std::uint64_t carry = 0 - (v.hi >> 63);
    return {(v.lo << 1) ^ (carry & 1), ((v.hi << 1) | (v.lo >> 63)) ^ (carry & 0xc200000000000000)};
}

// The hash over bytes, the last partial block filled up with zeros.
void hashBytes(const GcmTable& t, const KeyMaterial& m, const std::uint8_t* bytes, std::size_t size,
               FieldElement& hash) {
    t.hashBlocks(m, bytes, size / 16, hash);
    if (size % 16 != 0) {
        Block last{};
        std::memcpy(last.data(), bytes + size / 16 * 16, size % 16);
        t.hashBlocks(m, last.data(), 1, hash);
    }
}

// The block of two bit lengths, each 64 bits big-endian, that ends a hash.
void hashLengths(const GcmTable& t, const KeyMaterial& m, std::uint64_t firstBytes, std::uint64_t secondBytes,
                 FieldElement& hash) {
    std::uint8_t block[16];
    gcm::storeBigEndian64(block, firstBytes * 8);
    gcm::storeBigEndian64(block + 8, secondBytes * 8);
    t.hashBlocks(m, block, 1, hash);
}

// J0: a 12-byte nonce followed by the count 1, or any other nonce hashed with
// its length.
Block firstCounter(const GcmTable& t, const KeyMaterial& m, std::string_view nonce) {
    Block counter{};
    if (nonce.size() == kGcmNonceSize) {
        std::memcpy(counter.data(), nonce.data(), kGcmNonceSize);
        counter[15] = 1;
        return counter;
    }
    FieldElement hash{0, 0};
    hashBytes(t, m, bytesOf(nonce), nonce.size(), hash);
    hashLengths(t, m, 0, nonce.size(), hash);
    gcm::storeField(counter.data(), hash);
    wipeObject(hash);
    return counter;
}

// Counter mode and the hash over in to out; returns the full 16-byte tag.
Block run(bool sealing, const GcmTable& t, const KeyMaterial& m, std::string_view nonce,
          std::string_view associatedData, const std::uint8_t* in, std::size_t size, std::uint8_t* out) {
    Block j0 = firstCounter(t, m, nonce);
    FieldElement hash{0, 0};
    hashBytes(t, m, bytesOf(associatedData), associatedData.size(), hash);
    Block counter = j0;
    gcm::incrementCounter(counter);
    const std::size_t whole = size / 16;
    const std::size_t rest = size % 16;
    (sealing ? t.sealBlocks : t.openBlocks)(m, counter, in, out, whole, hash);
    if (rest != 0) {
        Block keystream;
        Block text{};
        t.encryptBlock(counter, m.schedule, keystream);
        std::memcpy(text.data(), in + 16 * whole, rest);
        if (!sealing) t.hashBlocks(m, text.data(), 1, hash);
        for (std::size_t i = 0; i < rest; ++i) text[i] ^= keystream[i];
        if (sealing) t.hashBlocks(m, text.data(), 1, hash);
        std::memcpy(out + 16 * whole, text.data(), rest);
        wipeObject(keystream);
        wipeObject(text);
    }
    hashLengths(t, m, associatedData.size(), size, hash);
    Block tag;
    gcm::storeField(tag.data(), hash);
    Block mask;
    t.encryptBlock(j0, m.schedule, mask);
    for (std::size_t i = 0; i < 16; ++i) tag[i] ^= mask[i];
    wipeObject(mask);
    wipeObject(hash);
    wipeObject(counter);
    wipeObject(j0);
    return tag;
}

// A value the optimiser cannot see through, so that arithmetic on a verdict
// is not turned back into a branch on it.
std::uint64_t opaque(std::uint64_t value) {
#if defined(__GNUC__)
    __asm__("" : "+r"(value));
#endif
    return value;
}

// All ones when the n bytes at a and b are equal, else zero, reading every
// byte whatever the others hold.
std::uint64_t equalMask(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    std::uint64_t difference = 0;
    for (std::size_t i = 0; i < n; ++i) difference |= static_cast<std::uint64_t>(a[i] ^ b[i]);
    // 0 - 1 borrows into every bit; 1 to 255 less 1 leaves the top bit clear.
    return opaque(0 - ((difference - 1) >> 63));
}

}  // namespace

GcmKey::GcmKey(const Key& key) : GcmKey(key, gcm::chosenGcm()) {}

GcmKey::GcmKey(const Key& key, const GcmTable& path) : table_(path), material_{} {
    path.buildEncryptionSchedule(key, material_.schedule);
    Block h{};
    path.encryptBlock(h, material_.schedule, h);
    material_.power[gcm::kMaxPowers - 1] = timesX(gcm::fieldOf(h.data()));
    wipeObject(h);
    path.extendPowers(material_);
}

GcmKey::~GcmKey() { wipeObject(material_); }

void GcmKey::seal(std::string_view nonce, std::string_view associatedData, const std::uint8_t* in, std::size_t size,
                  std::uint8_t* out, std::uint8_t* tag, std::size_t tagSize) const {
    checkArguments(nonce, associatedData, size, tagSize);
    Block full = run(true, table_, material_, nonce, associatedData, in, size, out);
    std::memcpy(tag, full.data(), tagSize);
    wipeObject(full);
}

bool GcmKey::open(std::string_view nonce, std::string_view associatedData, const std::uint8_t* in, std::size_t size,
                  const std::uint8_t* tag, std::size_t tagSize, std::uint8_t* out) const {
    checkArguments(nonce, associatedData, size, tagSize);
    Block expected = run(false, table_, material_, nonce, associatedData, in, size, out);
    const std::uint64_t match = equalMask(expected.data(), tag, tagSize);
    wipeObject(expected);
    table_.keepUnder(out, size, match);
    return (match & 1) != 0;
}

std::string gcmSeal(const Key& key, std::string_view nonce, std::string_view associatedData,
                    std::string_view plaintext) {
    std::string sealed(plaintext.size() + kGcmTagSize, '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(sealed.data());
    GcmKey(key).seal(nonce, associatedData, bytesOf(plaintext), plaintext.size(), out, out + plaintext.size());
    return sealed;
}

std::optional<std::string> gcmOpen(const Key& key, std::string_view nonce, std::string_view associatedData,
                                   std::string_view sealed) {
    if (sealed.size() < kGcmTagSize) return std::nullopt;
    const std::size_t size = sealed.size() - kGcmTagSize;
    std::string plaintext(size, '\0');
    if (!GcmKey(key).open(nonce, associatedData, bytesOf(sealed), size, bytesOf(sealed) + size, kGcmTagSize,
                          reinterpret_cast<std::uint8_t*>(plaintext.data()))) {
        return std::nullopt;
    }
    return plaintext;
}

}  // namespace ElAES
