// The key check code against codes worked out with Python's
// hashlib.pbkdf2_hmac("sha256", key, b"Mistlock key check code", 30000, 8),
// the first eight bytes as a big-endian number modulo 10^12, in groups of four.
#include <gtest/gtest.h>

#include "envelope/key_check.h"
#include "tests/envelope/envelope_reference.h"

namespace {

TEST(KeyCheck, CodesOfKnownKeys) {
    const struct {
        const char* what;
        const char* keyHex;  // leading bytes, the rest zero
        const char* code;
    } cases[] = {
        {"all-zero key", "", "4456 6566 4700"},
        {"password \"secret\"", "730065006300", "0623 0557 1202"},
        {"bytes 0 to 31", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", "2130 9810 2637"},
        {"password \"Ключ-42\"", "1A043B044E0447", "6370 6970 6508"},
    };
    for (const auto& c : cases) EXPECT_EQ(envelope::keyCheckCode(envelope_test::keyOf(c.keyHex)), c.code) << c.what;
}

}  // namespace
