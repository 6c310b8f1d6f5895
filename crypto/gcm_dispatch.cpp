// Which GCM table runs: that of the AES unit's active path, or the next
// narrower one that this processor can run, worked out once for each kind.
#include <array>

#include "crypto/gcm_internal.h"

namespace ElAES::gcm {

namespace {

constexpr Implementation kNarrowestFirst[] = {Implementation::Portable, Implementation::AesNi,
                                              Implementation::Vaes256, Implementation::Vaes512};

}  // namespace

const GcmTable* gcmImplementationOf(Implementation kind) {
    switch (kind) {
        case Implementation::Portable:
            return &portableGcm();
        case Implementation::AesNi:
            return clmulGcm();
        case Implementation::Vaes256:
            return vaes256Gcm();
        case Implementation::Vaes512:
            return vaes512Gcm();
    }
    return nullptr;
}

std::vector<const GcmTable*> availableGcmImplementations() {
    std::vector<const GcmTable*> tables;
    for (const Implementation kind : kNarrowestFirst) {
        if (const GcmTable* table = gcmImplementationOf(kind)) tables.push_back(table);
    }
    return tables;
}

const GcmTable& chosenGcm() {
    // For each kind of AES path, the widest table up to it.
    static const std::array<const GcmTable*, 4> byKind = [] {
        std::array<const GcmTable*, 4> tables{};
        const GcmTable* widest = &portableGcm();
        for (const Implementation kind : kNarrowestFirst) {
            if (const GcmTable* table = gcmImplementationOf(kind)) widest = table;
            tables[static_cast<std::size_t>(kind)] = widest;
        }
        return tables;
    }();
    return *byKind[static_cast<std::size_t>(activeImplementation())];
}

}  // namespace ElAES::gcm
