// Electronic codebook over byte streams: one Read, one block operation and one
// Write per 16 bytes, with the schedule and both blocks on this frame, wiped
// before it is left (by return or by a stream's exception alike). The
// loops are written once and instantiated for each implementation, so that the
// block operation is a direct call; the routines of ElAES.h pick the
// implementation once per call.
#include <cstddef>

#include "crypto/ElAES.h"
#include "crypto/aes_internal.h"
#include "crypto/wipe.h"

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

using BlockOperation = void (*)(const Block&, const Schedule&, Block&);

template <BlockOperation encrypt>
void encryptRun(ByteStream& source, std::uint32_t count, const Schedule& schedule, ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    Block input;
    Block output;
    const WipeOnExit wipeInput(input);
    const WipeOnExit wipeOutput(output);
    while (remaining >= kBlockSize) {
        readExactly(source, input.data(), kBlockSize);
        encrypt(input, schedule, output);
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
        encrypt(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
    }
}

template <BlockOperation decrypt>
void decryptRun(ByteStream& source, std::uint32_t count, const Schedule& schedule, ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    if (remaining % kBlockSize != 0) {
        raiseBufferSizeError();
    }
    Block input;
    Block output;
    const WipeOnExit wipeInput(input);
    const WipeOnExit wipeOutput(output);
    while (remaining >= kBlockSize) {
        readExactly(source, input.data(), kBlockSize);
        decrypt(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
        remaining -= kBlockSize;
    }
}

}  // namespace

namespace portable {

void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    portable::buildEncryptionSchedule(key, schedule);
    encryptRun<portable::encryptBlock>(source, count, schedule, destination);
}

void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    portable::buildDecryptionSchedule(key, schedule);
    decryptRun<portable::decryptBlock>(source, count, schedule, destination);
}

void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    encryptRun<portable::encryptBlock>(source, count, schedule, destination);
}

void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    decryptRun<portable::decryptBlock>(source, count, schedule, destination);
}

}  // namespace portable

#if ELAES_HAVE_AESNI
namespace aesni {

void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    aesni::buildEncryptionSchedule(key, schedule);
    encryptRun<aesni::encryptBlock>(source, count, schedule, destination);
}

void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
    Schedule schedule;
    const WipeOnExit wipeSchedule(schedule);
    aesni::buildDecryptionSchedule(key, schedule);
    decryptRun<aesni::decryptBlock>(source, count, schedule, destination);
}

void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    encryptRun<aesni::encryptBlock>(source, count, schedule, destination);
}

void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
    decryptRun<aesni::decryptBlock>(source, count, schedule, destination);
}

}  // namespace aesni
#endif

// The schedule is built on this frame, by the same implementation that runs
// the blocks.
void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::encryptStream(source, count, key, destination);
#endif
    portable::encryptStream(source, count, key, destination);
}

void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::decryptStream(source, count, key, destination);
#endif
    portable::decryptStream(source, count, key, destination);
}

void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::encryptStreamWithSchedule(source, count, schedule, destination);
#endif
    portable::encryptStreamWithSchedule(source, count, schedule, destination);
}

void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::decryptStreamWithSchedule(source, count, schedule, destination);
#endif
    portable::decryptStreamWithSchedule(source, count, schedule, destination);
}

}  // namespace ElAES
