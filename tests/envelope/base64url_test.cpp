// base64url without padding: RFC 4648's test vectors (section 10, in the URL
// alphabet), texts that are the form of no bytes, and long random bytes
// against an encoder written out here, a bit at a time, on every vector width
// the text steps run here.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "envelope/base64url.h"
#include "envelope/byte_tables.h"
#include "envelope/text_paths.h"

namespace {


const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Six bits a character, most significant first; the last character's bits
// beyond the bytes zero.
std::string reference(const std::string& bytes) {
    std::string out;
    for (std::size_t bit = 0; bit < 8 * bytes.size(); bit += 6) {
        unsigned value = 0;
        for (std::size_t k = bit; k < bit + 6; ++k) {
            const bool set = k < 8 * bytes.size() && (static_cast<unsigned char>(bytes[k / 8]) >> (7 - k % 8) & 1);
            value = value << 1 | set;
        }
        out += kAlphabet[value];
    }
    return out;
}

std::string encoded(const std::string& bytes) {
    std::string out = "#";
    envelope::appendBase64url(out, bytes);
    return out.substr(1);
}

// The bytes, or "refused".
std::string decoded(const std::string& text) {
    std::string out = "#";
    return envelope::appendBase64urlBytes(out, text) ? out.substr(1) : "refused";
}

TEST(Base64url, KnownFormsAndTextsThatAreNoForm) {
    const std::pair<std::string, std::string> known[] = {
        {"", ""}, {"f", "Zg"}, {"fo", "Zm8"}, {"foo", "Zm9v"}, {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy"}, {"\xFB\xFF\xBF", "-_-_"}, {"\x03\xE0", "A-A"}};
    for (const auto& [bytes, text] : known) {
        EXPECT_EQ(encoded(bytes), text);
        EXPECT_EQ(decoded(text), bytes);
    }
    for (const char* noForm : {"Z", "Zg=", "Zg==", "Zm9v+g", "Zm9v/g", "Zm 9v", "Zm9v\n", "Zh", "Zm9", "Zm9vYmF", "\xC3\x84xyz"}) {
        EXPECT_EQ(decoded(noForm), "refused") << noForm;
    }
}

TEST(Base64url, LongTextsOnEveryVectorWidth) {
    std::mt19937 rng(4648);
    for (const envelope::detail::TextPath* path : envelope::detail::availableTextPaths()) {
        envelope::detail::forceTextPath(path);
        SCOPED_TRACE(path->name);
        for (std::size_t size = 0; size < 300; size += 1 + size / 8) {
            std::string bytes(size, '\0');
            for (char& b : bytes) b = static_cast<char>(rng());
            const std::string text = reference(bytes);
            ASSERT_EQ(encoded(bytes), text) << size;
            ASSERT_EQ(decoded(text), bytes) << size;
            // Any one character outside the alphabet, wherever it stands.
            for (std::size_t at = 0; at < text.size(); at += 7) {
                for (const char bad : {'=', '+', '\0', '\x80', '@', '{'}) {
                    std::string broken = text;
                    broken[at] = bad;
                    ASSERT_EQ(decoded(broken), "refused") << size << " at " << at;
                }
            }
        }
    }
    envelope::detail::forceTextPath(nullptr);
}

}  // namespace
