// Every vector of the NIST AESAVS AES-256 ECB response files, read from the
// files by one driver: the known-answer files (GFSbox, KeySbox, VarKey,
// VarTxt), the multi-block message test and the Monte Carlo test. Each file
// runs on every path: each implementation the unit lists as available here
// (the portable tables; the AES instructions where the processor has them)
// and the functions of ElAES.h.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/ElAES.h"
#include "crypto/memory_stream.h"
#include "tests/crypto/aes_paths.h"
#include "tests/crypto/test_support.h"

using namespace testsupport;

namespace {

struct Record {
    bool encrypt = true;  // [ENCRYPT] or [DECRYPT] section
    std::string count;
    Bytes key;
    Bytes plaintext;
    Bytes ciphertext;
};

// A record is complete when it has its key, plaintext and ciphertext; the
// order of the three differs between the sections.
std::vector<Record> readResponseFile(const std::string& name) {
    std::vector<Record> records;
    Record current;
    bool encrypt = true;
    int fields = 0;
    for (const std::string& line : readDataLines("aesavs/" + name)) {
        if (line.empty() || line[0] == '#') continue;
        if (line == "[ENCRYPT]") {
            encrypt = true;
            continue;
        }
        if (line == "[DECRYPT]") {
            encrypt = false;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string field = line.substr(0, eq);
        while (!field.empty() && field.back() == ' ') field.pop_back();
        const std::string value = line.substr(eq + 1);
        if (field == "COUNT") {
            current = Record{};
            current.encrypt = encrypt;
            current.count = value.substr(value.find_first_not_of(' '));
            fields = 0;
        } else if (field == "KEY") {
            current.key = fromHex(value);
            ++fields;
        } else if (field == "PLAINTEXT") {
            current.plaintext = fromHex(value);
            ++fields;
        } else if (field == "CIPHERTEXT") {
            current.ciphertext = fromHex(value);
            ++fields;
        }
        if (fields == 3) {
            records.push_back(current);
            fields = 0;
        }
    }
    return records;
}

ElAES::Key toKey(const Bytes& bytes) {
    EXPECT_EQ(bytes.size(), 32u);
    ElAES::Key key{};
    for (std::size_t i = 0; i < key.size() && i < bytes.size(); ++i) key[i] = bytes[i];
    return key;
}

// ECB over whole blocks, block by block.
Bytes runBlocks(const AesPath& path, const Bytes& input, const ElAES::Key& key, bool encrypt) {
    ElAES::Schedule schedule;
    if (encrypt) {
        path.table.buildEncryptionSchedule(key, schedule);
    } else {
        path.table.buildDecryptionSchedule(key, schedule);
    }
    Bytes output;
    for (std::size_t at = 0; at + 16 <= input.size(); at += 16) {
        ElAES::Block in;
        ElAES::Block out;
        for (std::size_t i = 0; i < 16; ++i) in[i] = input[at + i];
        if (encrypt) {
            path.table.encryptBlock(in, schedule, out);
        } else {
            path.table.decryptBlock(in, schedule, out);
        }
        output.insert(output.end(), out.begin(), out.end());
    }
    return output;
}

// The same through the stream routines, count 0 (the whole source).
Bytes runStream(const AesPath& path, const Bytes& input, const ElAES::Key& key, bool encrypt) {
    ElAES::MemoryStream source(bytesToString(input));
    ElAES::MemoryStream destination;
    if (encrypt) {
        path.encryptStream(source, 0, key, destination);
    } else {
        path.decryptStream(source, 0, key, destination);
    }
    return stringToBytes(destination.bytes());
}

// AESAVS Monte Carlo test for ECB, one record: 1000 operations, each taking the
// previous output as input. Returns the last two outputs.
struct MonteCarloResult {
    ElAES::Block last;
    ElAES::Block beforeLast;
};

MonteCarloResult monteCarlo(const AesPath& path, const ElAES::Key& key, const ElAES::Block& first, bool encrypt) {
    ElAES::Schedule schedule;
    if (encrypt) {
        path.table.buildEncryptionSchedule(key, schedule);
    } else {
        path.table.buildDecryptionSchedule(key, schedule);
    }
    MonteCarloResult result{first, first};
    for (int j = 0; j < 1000; ++j) {
        result.beforeLast = result.last;
        if (encrypt) {
            path.table.encryptBlock(result.beforeLast, schedule, result.last);
        } else {
            path.table.decryptBlock(result.beforeLast, schedule, result.last);
        }
    }
    return result;
}

struct ResponseFile {
    const char* name;
    bool monteCarlo;
    std::size_t encryptRecords;
    std::size_t decryptRecords;
};

class AesavsFile : public ::testing::TestWithParam<std::tuple<ResponseFile, AesPath>> {};

TEST_P(AesavsFile, EveryRecord) {
    const ResponseFile& file = std::get<0>(GetParam());
    const AesPath& path = std::get<1>(GetParam());
    const std::vector<Record> records = readResponseFile(file.name);
    std::size_t encryptRecords = 0;
    std::size_t decryptRecords = 0;
    for (std::size_t n = 0; n < records.size(); ++n) {
        const Record& record = records[n];
        SCOPED_TRACE(std::string(record.encrypt ? "ENCRYPT" : "DECRYPT") + " COUNT = " + record.count);
        (record.encrypt ? encryptRecords : decryptRecords) += 1;
        const ElAES::Key key = toKey(record.key);
        const Bytes& input = record.encrypt ? record.plaintext : record.ciphertext;
        const Bytes& expected = record.encrypt ? record.ciphertext : record.plaintext;
        ASSERT_EQ(input.size(), expected.size());
        ASSERT_TRUE(!input.empty() && input.size() % 16 == 0);

        if (!file.monteCarlo) {
            EXPECT_EQ(toHex(runBlocks(path, input, key, record.encrypt)), toHex(expected));
            EXPECT_EQ(toHex(runStream(path, input, key, record.encrypt)), toHex(expected));
            continue;
        }

        ASSERT_EQ(input.size(), 16u);
        ElAES::Block first;
        for (std::size_t i = 0; i < 16; ++i) first[i] = input[i];
        const MonteCarloResult result = monteCarlo(path, key, first, record.encrypt);
        EXPECT_EQ(toHex(result.last), toHex(expected));

        // The next record of the same section starts from key xor (the
        // second-to-last output, the last output), with the last output as input.
        if (n + 1 < records.size() && records[n + 1].encrypt == record.encrypt) {
            const Record& next = records[n + 1];
            Bytes nextKey = record.key;
            for (std::size_t i = 0; i < 16; ++i) {
                nextKey[i] ^= result.beforeLast[i];
                nextKey[16 + i] ^= result.last[i];
            }
            EXPECT_EQ(toHex(next.key), toHex(nextKey));
            EXPECT_EQ(toHex(record.encrypt ? next.plaintext : next.ciphertext), toHex(result.last));
        }
    }
    EXPECT_EQ(encryptRecords, file.encryptRecords);
    EXPECT_EQ(decryptRecords, file.decryptRecords);
}

const ResponseFile kFiles[] = {
    {"ECBGFSbox256.rsp", false, 5, 5},     {"ECBKeySbox256.rsp", false, 16, 16},
    {"ECBVarKey256.rsp", false, 256, 256}, {"ECBVarTxt256.rsp", false, 128, 128},
    {"ECBMMT256.rsp", false, 10, 10},      {"ECBMCT256.rsp", true, 100, 100},
};

std::string fileTestName(const ::testing::TestParamInfo<std::tuple<ResponseFile, AesPath>>& info) {
    const std::string file = std::get<0>(info.param).name;
    return file.substr(0, file.find('.')) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Ecb256, AesavsFile,
                         ::testing::Combine(::testing::ValuesIn(kFiles), ::testing::ValuesIn(allAesPaths())),
                         fileTestName);

}  // namespace
