#pragma once
// The paths a GCM test runs each case on: every table the unit lists as
// available here, and the key made without naming one (the chosen path, which
// follows the AES unit's choice, so the portable one in `.portable` runs).
#include <cctype>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "crypto/gcm.h"
#include "crypto/gcm_dispatch.h"
#include "tests/crypto/test_support.h"

namespace testsupport {

struct GcmPath {
    std::string name;             // letters and digits only: it ends test names
    const ElAES::gcm::GcmTable* table;  // null: the chosen one

    std::unique_ptr<ElAES::GcmKey> keyOf(const ElAES::Key& key) const {
        return table ? std::make_unique<ElAES::GcmKey>(key, *table) : std::make_unique<ElAES::GcmKey>(key);
    }
};

// Bytes as the nonce and associated data are taken.
inline std::string_view viewOf(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Test names and failure messages name the path.
inline void PrintTo(const GcmPath& path, std::ostream* out) { *out << path.name; }

inline std::vector<GcmPath> allGcmPaths() {
    std::vector<GcmPath> paths;
    for (const ElAES::gcm::GcmTable* table : ElAES::gcm::availableGcmImplementations()) {
        std::string name;
        for (const char* c = table->name; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
        }
        paths.push_back({name, table});
    }
    paths.push_back({"chosen", nullptr});
    return paths;
}

}  // namespace testsupport
