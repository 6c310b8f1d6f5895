#pragma once
// An in-memory byte stream: the bytes live in a std::string owned by the
// stream. Read comes up short only at the end of the data; Write overwrites at
// the position and enlarges the stream as needed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "crypto/byte_stream.h"

namespace ElAES {

class MemoryStream final : public ByteStream {
public:
    MemoryStream() = default;
    // Starts with the given bytes, positioned at 0.
    explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    void SetPosition(std::uint64_t position) override { position_ = position; }
    std::size_t Read(void* buffer, std::size_t n) override;
    std::size_t Write(const void* buffer, std::size_t n) override;
    const std::uint8_t* lendForReading() const override {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data());
    }
    std::uint8_t* lendForWriting(std::size_t n) override;

    // The stream's bytes.
    const std::string& bytes() const { return bytes_; }
    // Makes room for that many bytes in all, so that writes up to that size
    // take no further memory.
    void reserve(std::size_t capacity) { bytes_.reserve(capacity); }

private:
    std::string bytes_;
    std::uint64_t position_ = 0;
};

}  // namespace ElAES
