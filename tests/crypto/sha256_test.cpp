// SHA-256, HMAC-SHA256 and PBKDF2-HMAC-SHA256 against published values:
// FIPS 180-2 appendix B (SHA-256), RFC 4231 section 4 (HMAC) and RFC 7914
// section 11 (PBKDF2). Each message is also hashed fed in small pieces, so that
// every way a block can be split between calls is taken.
#include <gtest/gtest.h>

#include <string>

#include "crypto/sha256.h"

namespace {

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string hexOf(const ElAES::Digest& d) { return hexOf(d.data(), d.size()); }

struct HashCase {
    const char* name;
    std::string message;
    const char* digest;
};

TEST(Sha256, PublishedDigests) {
    const HashCase cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"FIPS 180-2 B.1", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"FIPS 180-2 B.2, two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"FIPS 180-2 B.3", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hexOf(ElAES::sha256(c.message)), c.digest);
        for (const std::size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            ElAES::Sha256 hash;
            for (std::size_t at = 0; at < c.message.size(); at += piece) hash.update(c.message.substr(at, piece));
            EXPECT_EQ(hexOf(hash.finish()), c.digest) << "in pieces of " << piece;
        }
    }
}

TEST(Sha256, HmacOfRfc4231) {
    const std::pair<std::string, std::string> keyAndMessage[] = {
        {"Jefe", "what do ya want for nothing?"},
        // A key longer than a block is hashed first.
        {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"},
    };
    const char* const expected[] = {
        "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
        "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(hexOf(ElAES::hmacSha256(keyAndMessage[i].first, keyAndMessage[i].second)), expected[i]);
    }
}

TEST(Sha256, Pbkdf2OfRfc7914) {
    struct Case {
        const char* password;
        const char* salt;
        std::uint32_t iterations;
        const char* derived;  // 64 bytes: two blocks of the PRF
    };
    const Case cases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        std::uint8_t out[64];
        ElAES::pbkdf2HmacSha256(c.password, c.salt, c.iterations, out, sizeof out);
        EXPECT_EQ(hexOf(out, sizeof out), c.derived);
        // A shorter output is the start of the longer one.
        std::uint8_t part[40];
        ElAES::pbkdf2HmacSha256(c.password, c.salt, c.iterations, part, sizeof part);
        EXPECT_EQ(hexOf(part, sizeof part), std::string(c.derived, 80));
    }
}

}  // namespace
