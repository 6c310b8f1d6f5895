#pragma once
// The sealed envelopes of tests/data/sealed/vectors.tsv, which
// make_vectors.mjs made with Node's HKDF and AES-256-GCM and nothing of the
// product's.
#include <algorithm>
#include <sstream>

#include "tests/envelope/envelope_reference.h"

namespace envelope_test {

struct SealedVector {
    bool opens = false;
    std::string name, keyHex;  // the key text's UTF-16LE form
    // Bytes, for those that open: the nonce, the message's UTF-8 form, and
    // the message in the code page asked for (a character it lacks as '?').
    std::string nonce, utf8, onPage;
    std::string envelope;

    std::u16string keyText() const { return keyTextOf(keyHex); }
    // No character of the message became '?' in the code page.
    bool whole() const { return std::count(onPage.begin(), onPage.end(), '?') == std::count(utf8.begin(), utf8.end(), '?'); }
};

inline std::vector<SealedVector> sealedVectors(unsigned codePage = platform::ansiCodePage()) {
    std::vector<SealedVector> all;
    std::istringstream in(dataFile("../sealed/vectors.tsv"));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        for (std::string field; std::getline(cells, field, '\t');) f.push_back(field);
        using testing_records::unhex;
        if (f[0] == "opens" && f.size() == 8) {
            all.push_back({true, f[1], f[2], unhex(f[3]), unhex(f[4]), unhex(codePage == 1251 ? f[5] : f[6]), f[7]});
        } else if (f[0] == "refused" && f.size() == 4) {
            all.push_back({false, f[1], f[2], "", "", "", f[3]});
        } else if (line[0] != '#') {
            ADD_FAILURE() << "malformed line: " << line;
        }
    }
    EXPECT_EQ(all.size(), 36u);
    return all;
}

inline SealedVector sealedVector(const std::string& name, unsigned codePage = platform::ansiCodePage()) {
    for (const SealedVector& v : sealedVectors(codePage)) {
        if (v.name == name) return v;
    }
    ADD_FAILURE() << "no sealed vector " << name;
    return {};
}

}  // namespace envelope_test
