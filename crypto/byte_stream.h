#pragma once
// The byte stream that the AES stream routines read from and write to, and the
// error raised when a stream delivers or takes fewer bytes than asked.
#include <cstddef>
#include <cstdint>

#include "platform/exception.h"

namespace ElAES {

// A stream failed to deliver or to take the bytes asked of it.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A random-access run of bytes with a current position. The cipher uses these
// members and nothing else.
class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Total number of bytes in the stream.
    virtual std::uint64_t Size() const = 0;

    // The current offset, and setting it. Setting it past the end is allowed:
    // reads there deliver nothing, and a write fills the gap with zero bytes.
    virtual std::uint64_t Position() const = 0;
    virtual void SetPosition(std::uint64_t position) = 0;

    // Reads up to n bytes at the position into buffer, advances the position by
    // the number read and returns that number.
    virtual std::size_t Read(void* buffer, std::size_t n) = 0;

    // Writes n bytes from buffer at the position, advances the position by the
    // number written and returns that number.
    virtual std::size_t Write(const void* buffer, std::size_t n) = 0;

    // A stream whose bytes lie in one run of memory may lend it, so that the
    // cipher can take many blocks at once where it would otherwise make one
    // Read and one Write a block. A stream that does not lend (the default) is
    // read and written one block a call, through its own Read and Write.

    // The stream's Size() bytes, where they lie, valid until the stream is
    // next changed; null when the stream does not lend them, or when a Read
    // would not deliver them. Changes nothing.
    virtual const std::uint8_t* lendForReading() const { return nullptr; }

    // Room for n bytes at the position, in the stream's own memory: the
    // stream is left as a Write of n bytes would leave it (enlarged as needed,
    // a gap zero-filled) but for those n bytes, which the caller then fills,
    // and the position, which the caller then moves. Null, with nothing
    // changed, when the stream does not lend (the default) or when a Write
    // would not take all n bytes.
    virtual std::uint8_t* lendForWriting(std::size_t n) {
        static_cast<void>(n);
        return nullptr;
    }

protected:
    ByteStream() = default;
    ByteStream(const ByteStream&) = default;
    ByteStream& operator=(const ByteStream&) = default;
};

}  // namespace ElAES
