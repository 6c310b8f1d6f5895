#pragma once
// Electronic codebook over byte streams: one Read, one block operation and one
// Write per 16 bytes, with both blocks on this frame, wiped before it is left
// (by return or by a stream's exception alike). Written once here and
// instantiated by each implementation over its own block operations, where
// that implementation's table is defined, so that the block operation is a
// direct call. Not part of the unit's interface.
#include <cstddef>
#include <cstdint>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"

#if defined(__GNUC__)
#define ELAES_COLD __attribute__((noinline, cold))
#else
#define ELAES_COLD
#endif

namespace ElAES::detail {

constexpr std::size_t kBlockSize = 16;

// How many bytes a call processes. A count of 0 means the whole source from
// its first byte, and rewinds it; any other count is cut to what lies between
// the position and the end (nothing, when the position is at or past the end).
// Sizes and positions are 64-bit here, so no count wraps around.
std::uint64_t resolveCount(ByteStream& source, std::uint32_t count);

// The three failures, out of the loops' way.
[[noreturn]] ELAES_COLD void raiseReadError();
[[noreturn]] ELAES_COLD void raiseWriteError();
[[noreturn]] ELAES_COLD void raiseBufferSizeError();

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

}  // namespace ElAES::detail
