// The choice of implementation, made once from CPUID (and forcePortable), and
// the functions of ElAES.h, each a call through the chosen table.
#include "crypto/aes_internal.h"

namespace ElAES {

namespace detail {

std::atomic<const ImplementationTable*> chosenTable{nullptr};

namespace {

std::atomic<bool> portableForced{false};

}  // namespace

const ImplementationTable& choose() {
    const ImplementationTable* table = portableForced.load(std::memory_order_relaxed) ? nullptr : aesniImplementation();
    if (table == nullptr) table = &portableImplementation();
    chosenTable.store(table, std::memory_order_relaxed);
    return *table;
}

}  // namespace detail

std::vector<const ImplementationTable*> availableImplementations() {
    std::vector<const ImplementationTable*> tables{&portableImplementation()};
    if (const ImplementationTable* hardware = aesniImplementation()) tables.push_back(hardware);
    return tables;
}

bool hardwareSupported() { return aesniImplementation() != nullptr; }

Implementation activeImplementation() { return detail::chosen().kind; }

void forcePortable(bool force) {
    detail::portableForced.store(force, std::memory_order_relaxed);
    detail::choose();
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
