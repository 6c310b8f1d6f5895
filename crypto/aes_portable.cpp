// The table-based implementation as one table: the key schedules, the block
// operations and the stream loops over them. It runs on every processor.
#include "crypto/aes_internal.h"
#include "crypto/aes_stream_loop.h"

namespace ElAES {
namespace {

constexpr ImplementationTable kPortable = {
    Implementation::Portable,
    implementationName(Implementation::Portable),
    portable::buildEncryptionSchedule,
    portable::buildDecryptionSchedule,
    portable::encryptBlock,
    portable::decryptBlock,
    detail::encryptRun<portable::encryptBlock>,
    detail::decryptRun<portable::decryptBlock>,
};

}  // namespace

const ImplementationTable& portableImplementation() { return kPortable; }

}  // namespace ElAES
