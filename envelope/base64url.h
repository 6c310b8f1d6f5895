#pragma once
// base64url without padding (RFC 4648, section 5): the letters, the digits,
// '-' and '_', six bits a character, no '='. The sealed envelope carries its
// bytes so, because these 64 characters are ASCII and read alike in every
// code page, and no messenger or editor breaks a line at them.
#include <cstddef>
#include <string>
#include <string_view>

namespace envelope {

// Whether the character is one of the 64.
bool isBase64urlCharacter(char c);

// Appends the characters of the bytes to `out`: 4 for every 3 bytes, then 2
// for a last single byte or 3 for a last pair.
void appendBase64url(std::string& out, std::string_view bytes);

// Appends the bytes of a base64url text to `out`: true. False, and what was
// appended is not to be used, when the text is not the one form of any bytes:
// a character outside the 64 (a '=', a blank or a line break among them), a
// length that leaves one character over a multiple of four, or a last
// character whose bits beyond the last byte are not zero.
bool appendBase64urlBytes(std::string& out, std::string_view text);

}  // namespace envelope
