// The choice of implementation, made once from CPUID (and forcePortable), and
// the functions of ElAES.h, each a call through the chosen table.
#include "crypto/aes_internal.h"

namespace ElAES {

namespace detail {

std::atomic<const ImplementationTable*> chosenTable{nullptr};

namespace {

// The implementation asked for by forcePortable or forceImplementation; null
// when the choice is the processor's.
std::atomic<const ImplementationTable*> forcedTable{nullptr};

constexpr Implementation kWidestFirst[] = {Implementation::Vaes512, Implementation::Vaes256, Implementation::AesNi,
                                           Implementation::Portable};

}  // namespace

const ImplementationTable& choose() {
    const ImplementationTable* table = forcedTable.load(std::memory_order_relaxed);
    for (const Implementation kind : kWidestFirst) {
        if (table == nullptr) table = implementationOf(kind);
    }
    chosenTable.store(table, std::memory_order_relaxed);
    return *table;
}

}  // namespace detail

const ImplementationTable* implementationOf(Implementation kind) {
    switch (kind) {
        case Implementation::Portable:
            return &portableImplementation();
        case Implementation::AesNi:
            return detail::aesniImplementation();
        case Implementation::Vaes256:
            return detail::vaes256Implementation();
        case Implementation::Vaes512:
            return detail::vaes512Implementation();
    }
    return nullptr;
}

std::vector<const ImplementationTable*> availableImplementations() {
    std::vector<const ImplementationTable*> tables;
    for (const Implementation kind :
         {Implementation::Portable, Implementation::AesNi, Implementation::Vaes256, Implementation::Vaes512}) {
        if (const ImplementationTable* table = implementationOf(kind)) tables.push_back(table);
    }
    return tables;
}

Implementation activeImplementation() { return detail::chosen().kind; }

void forcePortable(bool force) {
    detail::forcedTable.store(force ? &portableImplementation() : nullptr, std::memory_order_relaxed);
    detail::choose();
}

bool forceImplementation(Implementation kind) {
    const ImplementationTable* table = implementationOf(kind);
    if (table == nullptr) return false;
    detail::forcedTable.store(table, std::memory_order_relaxed);
    detail::choose();
    return true;
}

void buildEncryptionSchedule(const Key& key, Schedule& schedule) {
    detail::chosen().buildEncryptionSchedule(key, schedule);
}

void buildDecryptionSchedule(const Key& key, Schedule& schedule) {
    detail::chosen().buildDecryptionSchedule(key, schedule);
}

void encryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    detail::chosen().encryptBlock(input, schedule, output);
}

void decryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    detail::chosen().decryptBlock(input, schedule, output);
}

void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    detail::chosen().encryptStream(source, count, key, destination);
}

void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    detail::chosen().decryptStream(source, count, key, destination);
}

void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    detail::chosen().encryptStreamWithSchedule(source, count, schedule, destination);
}

void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    detail::chosen().decryptStreamWithSchedule(source, count, schedule, destination);
}

}  // namespace ElAES
