// The parts of the stream routines that every implementation shares: count
// resolution, the errors, and the key-taking routines, which build a schedule
// on their own frame and hand it to a table's stream entry. The loops are in
// aes_stream_loop.h.
#include <cstdint>

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

bool lendBoth(ByteStream& source, std::uint64_t taken, std::uint64_t written, ByteStream& destination,
              const std::uint8_t*& in, std::uint8_t*& out) {
    // One stream as both ends reads where it has just written: block by block.
    if (taken == 0 || &source == &destination || written > SIZE_MAX) return false;
    if (source.lendForReading() == nullptr) return false;
    out = destination.lendForWriting(static_cast<std::size_t>(written));
    if (out == nullptr) return false;
    // Asked again: enlarging the destination may have moved memory that the
    // two streams share.
    in = source.lendForReading() + source.Position();
    const auto from = reinterpret_cast<std::uintptr_t>(in);
    const auto to = reinterpret_cast<std::uintptr_t>(out);
    // In place, every block is read before it is written, as block by block;
    // runs that overlap otherwise would feed written blocks back in.
    return from == to || from + taken <= to || to + written <= from;
}

void advanceBoth(ByteStream& source, std::uint64_t taken, ByteStream& destination, std::uint64_t written) {
    source.SetPosition(source.Position() + taken);
    destination.SetPosition(destination.Position() + written);
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
