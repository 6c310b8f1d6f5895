#include "crypto/view_streams.h"

#include <cstring>

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

}  // namespace ElAES
