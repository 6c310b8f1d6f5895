#include "crypto/view_streams.h"

#include <cstring>
#include <new>

namespace ElAES {

std::size_t ViewStream::Read(void* buffer, std::size_t n) {
    if (position_ >= bytes_.size()) return 0;
    const std::size_t available = bytes_.size() - static_cast<std::size_t>(position_);
    const std::size_t count = n < available ? n : available;
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

std::size_t ViewStream::Write(const void*, std::size_t) { return 0; }

std::size_t AppendStream::Read(void*, std::size_t) { return 0; }

std::size_t AppendStream::Write(const void* buffer, std::size_t n) {
    if (position_ != bytes_.size()) return 0;
    bytes_.append(static_cast<const char*>(buffer), n);
    position_ += n;
    return n;
}

std::uint8_t* AppendStream::lendForWriting(std::size_t n) {
    if (n == 0 || position_ != bytes_.size() || n > bytes_.max_size() - bytes_.size()) return nullptr;
    const std::size_t at = bytes_.size();
    try {
        bytes_.resize(at + n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return reinterpret_cast<std::uint8_t*>(&bytes_[at]);
}

}  // namespace ElAES
