// The parts of the stream routines that every implementation shares: count
// resolution, the errors, and the key-taking routines, which build a schedule
// on their own frame and hand it to a table's stream entry. The loops are in
// aes_stream_loop.h.
#include "crypto/aes_dispatch.h"
#include "crypto/aes_stream_loop.h"
#include "crypto/wipe.h"

namespace ElAES {

namespace detail {

std::uint64_t resolveCount(ByteStream& source, std::uint32_t count) {
    if (count == 0) {
        source.SetPosition(0);
        return source.Size();
    }
    const std::uint64_t size = source.Size();
    const std::uint64_t position = source.Position();
    const std::uint64_t remaining = position < size ? size - position : 0;
    return count < remaining ? count : remaining;
}

void raiseReadError() {
    throw EStreamError("Stream read error");
}

void raiseWriteError() {
    throw EStreamError("Stream write error");
}

void raiseBufferSizeError() {
    throw EAESError("Invalid buffer size for decryption");
}

}  // namespace detail

void ImplementationTable::encryptStream(ByteStream& source, std::uint32_t count, const Key& key,
                                        ByteStream& destination) const {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    this->buildEncryptionSchedule(key, schedule);
    this->encryptStreamWithSchedule(source, count, schedule, destination);
}

void ImplementationTable::decryptStream(ByteStream& source, std::uint32_t count, const Key& key,
                                        ByteStream& destination) const {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    this->buildDecryptionSchedule(key, schedule);
    this->decryptStreamWithSchedule(source, count, schedule, destination);
}

}  // namespace ElAES
