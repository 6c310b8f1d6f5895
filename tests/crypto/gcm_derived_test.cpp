// AES-256-GCM against vectors that OpenSSL made once (tests/data/gcm/
// make_vectors.mjs), at every length where the paths' runs of blocks change
// shape, up to 70,000 bytes, and across a wrap of the 32-bit block count. On
// every path: sealed apart and in place, opened, and refused, with zeros in
// the output, once any bit of the ciphertext, the tag or the associated data
// is changed.
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/sha256.h"
#include "tests/crypto/gcm_paths.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

struct Vector {
    std::map<std::string, std::string> field;  // name=value, as in the file
    std::size_t length() const { return std::stoul(field.at("len")); }
    Bytes hex(const char* name) const { return fromHex(field.at(name)); }
};

std::vector<Vector> vectors() {
    std::vector<Vector> all;
    for (const std::string& line : readDataLines("gcm/vectors.txt")) {
        if (line.empty() || line[0] == '#') continue;
        Vector v;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            const std::size_t eq = word.find('=');
            v.field[word.substr(0, eq)] = word.substr(eq + 1);
        }
        all.push_back(v);
    }
    return all;
}

// The plaintext as the script defines it.
Bytes plaintextOf(const Vector& v) {
    const unsigned seed = static_cast<unsigned>(std::stoul(v.field.at("seed")));
    Bytes p(v.length());
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(seed + 131 * i + i / 256);
    return p;
}

// The ciphertext in the form the file gives it: hex, or its SHA-256.
std::string asFiled(const Vector& v, const Bytes& ct) {
    if (v.field.count("ct")) return toHex(ct);
    return toHex(ElAES::sha256(viewOf(ct)));
}

class GcmDerived : public ::testing::TestWithParam<GcmPath> {};

TEST_P(GcmDerived, SealsOpensAndRefusesEveryChange) {
    const std::vector<Vector> all = vectors();
    ASSERT_EQ(all.size(), 181u);
    for (const Vector& v : all) {
        SCOPED_TRACE("len=" + v.field.at("len") + " iv=" + v.field.at("iv"));
        const auto key = GetParam().keyOf(arrayFromHex<32>(v.field.at("key")));
        const Bytes iv = v.hex("iv"), aad = v.hex("aad"), tag = v.hex("tag"), pt = plaintextOf(v);
        const std::string filed = v.field.count("ct") ? v.field.at("ct") : v.field.at("ct-sha256");

        Bytes ct(pt.size()), sealedTag(tag.size());
        key->seal(viewOf(iv), viewOf(aad), pt.data(), pt.size(), ct.data(), sealedTag.data(), tag.size());
        EXPECT_EQ(asFiled(v, ct), filed);
        EXPECT_EQ(toHex(sealedTag), toHex(tag));
        Bytes inPlace = pt, inPlaceTag(tag.size());
        key->seal(viewOf(iv), viewOf(aad), inPlace.data(), inPlace.size(), inPlace.data(), inPlaceTag.data(),
                  tag.size());
        EXPECT_EQ(asFiled(v, inPlace), filed);
        EXPECT_EQ(toHex(inPlaceTag), toHex(tag));

        // OpenSSL's ciphertext (ours, where the file has only its digest and
        // ours matched it) opens to the plaintext, apart and in place.
        const Bytes theirs = v.field.count("ct") ? v.hex("ct") : ct;
        Bytes opened(theirs.size());
        EXPECT_TRUE(key->open(viewOf(iv), viewOf(aad), theirs.data(), theirs.size(), tag.data(), tag.size(),
                              opened.data()));
        EXPECT_TRUE(opened == pt);
        Bytes openedInPlace = theirs;
        EXPECT_TRUE(key->open(viewOf(iv), viewOf(aad), openedInPlace.data(), openedInPlace.size(), tag.data(),
                              tag.size(), openedInPlace.data()));
        EXPECT_TRUE(openedInPlace == pt);

        // One bit changed in each place there is one, at the last byte (the
        // tag's last byte counts only when it is kept).
        std::vector<std::tuple<const char*, Bytes, Bytes, Bytes>> changed;
        auto flip = [](Bytes b) {
            b.back() ^= 0x01;
            return b;
        };
        if (!theirs.empty()) changed.emplace_back("ciphertext", flip(theirs), tag, aad);
        changed.emplace_back("tag", theirs, flip(tag), aad);
        if (!aad.empty()) changed.emplace_back("associated data", theirs, tag, flip(aad));
        for (const auto& [what, c, t, a] : changed) {
            Bytes out(c.size(), 0x5a);
            EXPECT_FALSE(key->open(viewOf(iv), viewOf(a), c.data(), c.size(), t.data(), t.size(), out.data()))
                << what;
            EXPECT_TRUE(out == Bytes(c.size(), 0)) << what << ": the output is not wiped";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OpenSsl, GcmDerived, ::testing::ValuesIn(allGcmPaths()),
                         [](const ::testing::TestParamInfo<GcmPath>& info) { return info.param.name; });

// The two calls on strings, and what no path accepts.
TEST(GcmStrings, SealOpenAndArgumentsRefused) {
    const std::vector<Vector> all = vectors();
    const Vector& v = all.at(200 % all.size());  // a 12-byte nonce, a 16-byte tag
    ASSERT_EQ(v.field.at("iv").size(), 24u);
    ASSERT_EQ(v.field.at("tag").size(), 32u);
    const ElAES::Key key = arrayFromHex<32>(v.field.at("key"));
    const Bytes iv = v.hex("iv"), aad = v.hex("aad"), pt = plaintextOf(v);
    const std::string sealed = ElAES::gcmSeal(key, viewOf(iv), viewOf(aad), viewOf(pt));
    EXPECT_EQ(toHex(stringToBytes(sealed)), v.field.at("ct") + v.field.at("tag"));
    EXPECT_EQ(ElAES::gcmOpen(key, viewOf(iv), viewOf(aad), sealed), bytesToString(pt));
    EXPECT_EQ(ElAES::gcmOpen(key, viewOf(iv), "", sealed), std::nullopt);
    EXPECT_EQ(ElAES::gcmOpen(key, viewOf(iv), viewOf(aad), sealed.substr(0, 15)), std::nullopt);

    const ElAES::GcmKey gcm(key);
    std::uint8_t tag[16], out[1];
    const struct {
        std::string nonce;
        std::size_t tagSize;
        const char* message;
    } refused[] = {
        {"", 16, "AES-GCM needs a nonce of at least one byte"},
        {"123456789012", 11, "An AES-GCM tag has 16, 15, 14, 13, 12, 8 or 4 bytes, not 11"},
        {"123456789012", 17, "An AES-GCM tag has 16, 15, 14, 13, 12, 8 or 4 bytes, not 17"},
        {"123456789012", 5, "An AES-GCM tag has 16, 15, 14, 13, 12, 8 or 4 bytes, not 5"},
    };
    for (const auto& r : refused) {
        for (bool sealing : {true, false}) {
            try {
                if (sealing) {
                    gcm.seal(r.nonce, "", out, 0, out, tag, r.tagSize);
                } else {
                    gcm.open(r.nonce, "", out, 0, tag, r.tagSize, out);
                }
                ADD_FAILURE() << "accepted: " << r.message;
            } catch (const ElAES::EAESError& e) {
                EXPECT_STREQ(e.what(), r.message);
            }
        }
    }
}

}  // namespace
