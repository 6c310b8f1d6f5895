// The table-based implementation as one table: the key schedules, the block
// operations and the stream loops over them. It runs on every processor.
#include <cstring>

#include "crypto/aes_internal.h"
#include "crypto/aes_stream_loop.h"
#include "crypto/wipe.h"

namespace ElAES {
namespace {

// One block after the other: the table path has no way to overlap them, and
// its stream entries take memory the same way as every path's.
void encryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule) {
    Block block;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::memcpy(block.data(), in + 16 * i, 16);
        portable::encryptBlock(block, schedule, block);
        std::memcpy(out + 16 * i, block.data(), 16);
    }
    wipeObject(block);
}

void decryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule) {
    Block block;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::memcpy(block.data(), in + 16 * i, 16);
        portable::decryptBlock(block, schedule, block);
        std::memcpy(out + 16 * i, block.data(), 16);
    }
    wipeObject(block);
}

constexpr ImplementationTable kPortable = {
    Implementation::Portable,
    implementationName(Implementation::Portable),
    portable::buildEncryptionSchedule,
    portable::buildDecryptionSchedule,
    portable::encryptBlock,
    portable::decryptBlock,
    encryptBlocks,
    decryptBlocks,
    detail::encryptRun<portable::encryptBlock, encryptBlocks>,
    detail::decryptRun<portable::decryptBlock, decryptBlocks>,
};

}  // namespace

const ImplementationTable& portableImplementation() { return kPortable; }

}  // namespace ElAES
