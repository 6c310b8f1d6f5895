#pragma once
// Electronic codebook over byte streams. Where both streams lend their memory
// (byte_stream.h), the whole blocks go through the implementation's
// multi-block operation in one call, and only a last partial block passes
// through this frame. Anywhere else: one Read, one block operation and one
// Write per 16 bytes, as the streams have always been called. Blocks on this
// frame are wiped before it is left (by return or by a stream's exception
// alike). Written once here and instantiated by each implementation over its
// own operations, where that implementation's table is defined, so that they
// are direct calls. Not part of the unit's interface.
#include <cstddef>
#include <cstdint>
#include <cstring>

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
using BlocksOperation = void (*)(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                 const Schedule& schedule);

// The memory of both streams for a call that takes `taken` bytes and writes
// `written`: true, with in at the source's position and out at the
// destination's (the destination already enlarged), when both lend it and the
// two runs are either the same bytes or apart. False, with the source as it
// was, for anything else: then the calls go block by block. A destination
// that lent, and was enlarged, takes every block written after that anyway:
// writing to memory cannot fail, and neither can reading a source that lends.
bool lendBoth(ByteStream& source, std::uint64_t taken, std::uint64_t written, ByteStream& destination,
              const std::uint8_t*& in, std::uint8_t*& out);

// Moves both positions past what a bulk run took and wrote.
void advanceBoth(ByteStream& source, std::uint64_t taken, ByteStream& destination, std::uint64_t written);

// The whole blocks of a run through streams that lend nothing: one Read, one
// block operation and one Write each; remaining keeps what is left over.
template <BlockOperation operation>
void wholeBlocksOneByOne(ByteStream& source, std::uint64_t& remaining, const Schedule& schedule,
                         ByteStream& destination, Block& input, Block& output) {
    while (remaining >= kBlockSize) {
        readExactly(source, input.data(), kBlockSize);
        operation(input, schedule, output);
        writeExactly(destination, output.data(), kBlockSize);
        remaining -= kBlockSize;
    }
}

template <BlockOperation encrypt, BlocksOperation encryptBlocks>
void encryptRun(ByteStream& source, std::uint32_t count, const Schedule& schedule, ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    const std::uint64_t whole = remaining / kBlockSize * kBlockSize;
    const std::uint64_t written = (remaining + kBlockSize - 1) / kBlockSize * kBlockSize;
    const std::uint8_t* in = nullptr;
    std::uint8_t* out = nullptr;
    if (lendBoth(source, remaining, written, destination, in, out)) {
        encryptBlocks(in, out, static_cast<std::size_t>(whole / kBlockSize), schedule);
        if (remaining > whole) {
            const std::size_t k = static_cast<std::size_t>(remaining - whole);
            Block input{};
            Block output;
            const WipeOnExit wipeInput(input);
            const WipeOnExit wipeOutput(output);
            std::memcpy(input.data(), in + whole, k);
            encrypt(input, schedule, output);
            std::memcpy(out + whole, output.data(), kBlockSize);
        }
        advanceBoth(source, remaining, destination, written);
        return;
    }
    Block input;
    Block output;
    const WipeOnExit wipeInput(input);
    const WipeOnExit wipeOutput(output);
    wholeBlocksOneByOne<encrypt>(source, remaining, schedule, destination, input, output);
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

template <BlockOperation decrypt, BlocksOperation decryptBlocks>
void decryptRun(ByteStream& source, std::uint32_t count, const Schedule& schedule, ByteStream& destination) {
    std::uint64_t remaining = resolveCount(source, count);
    if (remaining % kBlockSize != 0) {
        raiseBufferSizeError();
    }
    const std::uint8_t* in = nullptr;
    std::uint8_t* out = nullptr;
    if (lendBoth(source, remaining, remaining, destination, in, out)) {
        decryptBlocks(in, out, static_cast<std::size_t>(remaining / kBlockSize), schedule);
        advanceBoth(source, remaining, destination, remaining);
        return;
    }
    Block input;
    Block output;
    const WipeOnExit wipeInput(input);
    const WipeOnExit wipeOutput(output);
    wholeBlocksOneByOne<decrypt>(source, remaining, schedule, destination, input, output);
}

}  // namespace ElAES::detail
