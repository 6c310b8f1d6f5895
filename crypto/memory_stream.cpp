#include "crypto/memory_stream.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace ElAES {

std::size_t MemoryStream::Read(void* buffer, std::size_t n) {
    if (position_ >= bytes_.size() || n == 0) {
        return 0;
    }
    const std::size_t at = static_cast<std::size_t>(position_);
    const std::size_t available = bytes_.size() - at;
    const std::size_t count = n < available ? n : available;
    std::memcpy(buffer, bytes_.data() + at, count);
    position_ += count;
    return count;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t n) {
    if (n == 0) {
        return 0;
    }
    if (position_ > bytes_.max_size() - n) {
        throw std::length_error("MemoryStream: position out of range");
    }
    const std::size_t at = static_cast<std::size_t>(position_);
    if (at + n > bytes_.size()) {
        // A gap between the old end and the position reads as zero bytes.
        bytes_.resize(at + n, '\0');
    }
    std::memcpy(&bytes_[at], buffer, n);
    position_ += n;
    return n;
}

std::uint8_t* MemoryStream::lendForWriting(std::size_t n) {
    // What would make Write throw makes the lender decline: the caller then
    // writes, and the Write raises its own error.
    if (n == 0 || position_ > bytes_.max_size() - n) return nullptr;
    const std::size_t at = static_cast<std::size_t>(position_);
    if (at + n > bytes_.size()) {
        try {
            bytes_.resize(at + n, '\0');
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return reinterpret_cast<std::uint8_t*>(&bytes_[at]);
}

}  // namespace ElAES
