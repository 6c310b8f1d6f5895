#pragma once
// Two streams over strings that belong to the caller, so that the stream
// routines can take bytes where they already are and leave their output where
// it is wanted, with no MemoryStream to copy into and out of on the way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/byte_stream.h"

namespace ElAES {

// Reads a run of bytes in place; the bytes must outlive the stream. It takes
// no writes: Write returns 0.
class ViewStream final : public ByteStream {
public:
    explicit ViewStream(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void SetPosition(std::uint64_t position) override { position_ = position; }
    std::size_t Read(void* buffer, std::size_t n) override;
    std::size_t Write(const void* buffer, std::size_t n) override;
    const std::uint8_t* lendForReading() const override {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data());
    }

private:
    std::string_view bytes_;
    std::uint64_t position_ = 0;
};

// Appends what is written to a string, starting at its end; the string must
// outlive the stream. Reserve the string's capacity first and the writes take
// no further memory. It is only ever written at its end, and read not at all:
// a Write anywhere else, and every Read, return 0.
class AppendStream final : public ByteStream {
public:
    explicit AppendStream(std::string& bytes) : bytes_(bytes), position_(bytes.size()) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void SetPosition(std::uint64_t position) override { position_ = position; }
    std::size_t Read(void* buffer, std::size_t n) override;
    std::size_t Write(const void* buffer, std::size_t n) override;
    std::uint8_t* lendForWriting(std::size_t n) override;

private:
    std::string& bytes_;
    std::uint64_t position_;
};

}  // namespace ElAES
