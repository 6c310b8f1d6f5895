#pragma once
// UTF-8 encoding and strict decoding, the same on every platform.
#include <optional>
#include <string>
#include <string_view>

namespace utf8 {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD, as Windows does.
std::string encode(std::u16string_view text);

// UTF-8 to UTF-16, strictly: an invalid sequence (a stray continuation byte, a
// truncated sequence, an overlong form, an encoded surrogate, a value past
// U+10FFFF) fails the whole decoding and nothing is replaced.
std::optional<std::u16string> decode(std::string_view bytes);

// True when the bytes are valid UTF-8 by the rules of decode().
bool isValid(std::string_view bytes);

}  // namespace utf8
