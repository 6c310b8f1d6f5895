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

protected:
    ByteStream() = default;
    ByteStream(const ByteStream&) = default;
    ByteStream& operator=(const ByteStream&) = default;
};

}  // namespace ElAES
