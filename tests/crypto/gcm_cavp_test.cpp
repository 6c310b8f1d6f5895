// Every vector of NIST's CAVP response files for AES-256-GCM, read from the
// files by one driver and run on every path: the encryption file (nonces of
// 1, 12 and 128 bytes, associated data and plaintext of 0 to 90 bytes, every
// tag length) sealed and opened again, and the decryption file opened, its
// FAIL records refused with zeros in the output.
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/crypto/gcm_paths.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

struct Record {
    std::string section;  // "[IVlen = 96] [PTlen = 0] ..." and "Count = n"
    Bytes key, iv, pt, aad, ct, tag;
    bool fail = false;  // a decryption record the tag must refuse
};

// A record ends at its last field: PT or FAIL in the decryption file, Tag in
// the encryption file.
const std::vector<Record>& recordsOf(const std::string& name, bool decryption) {
    static std::map<std::string, std::vector<Record>> cache;
    auto found = cache.find(name);
    if (found != cache.end()) return found->second;
    std::vector<Record>& records = cache[name];
    Record current;
    std::string header;
    for (const std::string& line : readDataLines("gcm/" + name)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.rfind("[Keylen", 0) == 0) header.clear();
            header += line + " ";
            continue;
        }
        if (line == "FAIL") {
            current.fail = true;
            records.push_back(current);
            continue;
        }
        const std::size_t eq = line.find(" = ");
        const std::string field = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 3);
        if (field == "Count") {
            current = Record{};
            current.section = header + "Count = " + value;
        } else if (field == "Key") {
            current.key = fromHex(value);
        } else if (field == "IV") {
            current.iv = fromHex(value);
        } else if (field == "PT") {
            current.pt = fromHex(value);
            if (decryption) records.push_back(current);
        } else if (field == "AAD") {
            current.aad = fromHex(value);
        } else if (field == "CT") {
            current.ct = fromHex(value);
        } else if (field == "Tag") {
            current.tag = fromHex(value);
            if (!decryption) records.push_back(current);
        }
    }
    return records;
}

struct ResponseFile {
    const char* name;
    bool decryption;
    std::size_t records;
    std::size_t failures;
};

class GcmCavpFile : public ::testing::TestWithParam<std::tuple<ResponseFile, GcmPath>> {};

TEST_P(GcmCavpFile, EveryRecord) {
    const ResponseFile& file = std::get<0>(GetParam());
    const GcmPath& path = std::get<1>(GetParam());
    const std::vector<Record>& records = recordsOf(file.name, file.decryption);
    std::size_t failures = 0;
    for (const Record& r : records) {
        SCOPED_TRACE(r.section);
        ASSERT_EQ(r.key.size(), 32u);
        const auto key = path.keyOf(arrayFromHex<32>(toHex(r.key)));
        if (!file.decryption) {
            Bytes ct(r.pt.size()), tag(r.tag.size());
            key->seal(viewOf(r.iv), viewOf(r.aad), r.pt.data(), r.pt.size(), ct.data(), tag.data(), tag.size());
            EXPECT_EQ(toHex(ct), toHex(r.ct));
            EXPECT_EQ(toHex(tag), toHex(r.tag));
        }
        // Opened apart and in place: the plaintext, or zeros and false.
        Bytes apart(r.ct.size(), 0xee);
        const bool opened = key->open(viewOf(r.iv), viewOf(r.aad), r.ct.data(), r.ct.size(), r.tag.data(),
                                      r.tag.size(), apart.data());
        Bytes inPlace = r.ct;
        const bool openedInPlace = key->open(viewOf(r.iv), viewOf(r.aad), inPlace.data(), inPlace.size(),
                                             r.tag.data(), r.tag.size(), inPlace.data());
        EXPECT_EQ(opened, !r.fail);
        EXPECT_EQ(openedInPlace, !r.fail);
        const Bytes expected = r.fail ? Bytes(r.ct.size(), 0) : r.pt;
        EXPECT_EQ(toHex(apart), toHex(expected));
        EXPECT_EQ(toHex(inPlace), toHex(expected));
        failures += r.fail ? 1 : 0;
    }
    EXPECT_EQ(records.size(), file.records);
    EXPECT_EQ(failures, file.failures);
}

const ResponseFile kFiles[] = {
    {"gcmEncryptExtIV256.rsp", false, 7875, 0},
    {"gcmDecrypt256.rsp", true, 7875, 3919},
};

std::string fileTestName(const ::testing::TestParamInfo<std::tuple<ResponseFile, GcmPath>>& info) {
    const std::string file = std::get<0>(info.param).name;
    return file.substr(0, file.find('.')) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Gcm256, GcmCavpFile,
                         ::testing::Combine(::testing::ValuesIn(kFiles), ::testing::ValuesIn(allGcmPaths())),
                         fileTestName);

}  // namespace
