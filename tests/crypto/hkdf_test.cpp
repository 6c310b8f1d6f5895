// HKDF-SHA256 against RFC 5869's test cases 1 to 3, read from
// tests/data/hkdf: extract, expand and the two together; and the longest
// output it gives.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "crypto/hkdf.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

std::vector<std::map<std::string, std::string>> rfcCases() {
    std::vector<std::map<std::string, std::string>> cases;
    for (const std::string& line : readDataLines("hkdf/rfc5869_sha256.txt")) {
        const std::size_t eq = line.find(" =");
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        if (name == "Case") cases.emplace_back();
        cases.back()[name] = line.size() > eq + 3 ? line.substr(eq + 3) : "";
    }
    return cases;
}

TEST(Hkdf, Rfc5869Sha256Cases) {
    const auto cases = rfcCases();
    ASSERT_EQ(cases.size(), 3u);
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + c.at("Case"));
        const std::string ikm = bytesToString(fromHex(c.at("IKM"))), salt = bytesToString(fromHex(c.at("salt"))),
                          info = bytesToString(fromHex(c.at("info")));
        const ElAES::Digest prk = ElAES::hkdfExtract(salt, ikm);
        EXPECT_EQ(toHex(prk), c.at("PRK"));
        Bytes okm(std::stoul(c.at("L")));
        ElAES::hkdfExpand(prk, info, okm.data(), okm.size());
        EXPECT_EQ(toHex(okm), c.at("OKM"));
        Bytes whole(okm.size());
        ElAES::hkdfSha256(salt, ikm, info, whole.data(), whole.size());
        EXPECT_EQ(toHex(whole), c.at("OKM"));
    }
}

// 255 blocks of 32 bytes: the last one byte counter value. The first 42
// bytes are those of case 1 whatever the length asked for.
TEST(Hkdf, AtMost255Blocks) {
    const auto c = rfcCases().at(0);
    const ElAES::Digest prk = arrayFromHex<32>(c.at("PRK"));
    const std::string info = bytesToString(fromHex(c.at("info")));
    Bytes longest(255 * 32);
    ElAES::hkdfExpand(prk, info, longest.data(), longest.size());
    EXPECT_EQ(toHex(Bytes(longest.begin(), longest.begin() + 42)), c.at("OKM"));
    Bytes tooLong(255 * 32 + 1, 0x77);
    EXPECT_THROW(ElAES::hkdfExpand(prk, info, tooLong.data(), tooLong.size()), ElAES::EAESError);
    EXPECT_EQ(tooLong, Bytes(tooLong.size(), 0x77)) << "nothing written";
}

}  // namespace
