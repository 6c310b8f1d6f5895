// Electronic codebook over byte streams: one Read, one block operation and one
// Write per 16 bytes, with the schedule and both blocks on this frame.
#include <cstddef>

#include "crypto/ElAES.h"

namespace ElAES {
namespace {

#if defined(__GNUC__)
#define ELAES_COLD __attribute__((noinline, cold))
#else
#define ELAES_COLD
#endif

constexpr std::size_t kBlockSize = 16;

// How many bytes a call processes. A count of 0 means the whole source from
// its first byte, and rewinds it; any other count is cut to what lies between
// the position and the end (nothing, when the position is at or past the end).
// Sizes and positions are 64-bit here, so no count wraps around.
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

[[noreturn]] ELAES_COLD void raiseReadError() {
    throw EStreamError("Stream read error");
}

[[noreturn]] ELAES_COLD void raiseWriteError() {
    throw EStreamError("Stream write error");
}

[[noreturn]] ELAES_COLD void raiseBufferSizeError() {
    throw EAESError("Invalid buffer size for decryption");
}

inline void readExactly(ByteStream& source, std::uint8_t* buffer, std::size_t n) {
    if (source.Read(buffer, n) != n) {
        raiseReadError();
    }
}

inline void writeExactly(ByteStream& destination, const std::uint8_t* buffer, std::size_t n) {
    if (destination.Write(buffer, n) != n) {
        raiseWriteError();
    }
}

}  // namespace

void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    buildEncryptionSchedule(key, schedule);
    encryptStreamWithSchedule(source, count, schedule, destination);
}

void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    buildDecryptionSchedule(key, schedule);
    decryptStreamWithSchedule(source, count, schedule, destination);
}

void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    Block input;
    Block output;
    while (remaining >= kBlockSize) {
        readExactly(source, input.data(), kBlockSize);
        encryptBlock(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
        remaining -= kBlockSize;
    }
    if (remaining > 0) {
        // A last partial block is filled up with zero bytes. Nothing marks
        // where the data ended: the caller carries the length or trims zeros.
        const std::size_t k = static_cast<std::size_t>(remaining);
        readExactly(source, input.data(), k);
        for (std::size_t i = k; i < kBlockSize; ++i) {
            input[i] = 0;
        }
        encryptBlock(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
    }
}

void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    if (remaining % kBlockSize != 0) {
        raiseBufferSizeError();
    }
    Block input;
    Block output;
    while (remaining >= kBlockSize) {
        readExactly(source, input.data(), kBlockSize);
        decryptBlock(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
        remaining -= kBlockSize;
    }
}

}  // namespace ElAES
