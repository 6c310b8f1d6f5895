#pragma once
// Text files as the plug-in reads and writes them: the encoding found from a
// leading byte-order mark (UTF-8, UTF-16LE, UTF-16BE), the system ANSI code
// page without one. Lines end as platform::splitLines() says; a NUL ends the
// text that is read (untilNul).
#include <string>
#include <string_view>

namespace platform {

enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct DecodedText {
    std::u16string text;  // the byte-order mark removed
    TextEncoding encoding = TextEncoding::Ansi;
    bool oddByteDropped = false;  // UTF-16 content of odd length lost its last byte
};

// Decodes a file's bytes. Content marked as UTF-8 that is not valid UTF-8
// raises Exception naming `fileName`; a UTF-16 file of odd length loses its
// last byte.
DecodedText decodeText(std::string_view bytes, const std::string& fileName);

// The text cut at its first NUL.
std::u16string_view untilNul(std::u16string_view text);

// Every CR LF, lone CR and lone LF turned into CR LF.
std::u16string normaliseLineBreaks(std::u16string_view text);

// The bytes of a text in an encoding, with the byte-order mark for the
// Unicode encodings.
std::string encodeText(std::u16string_view text, TextEncoding encoding);

// The same, but never losing a character: a text that the ANSI code page
// cannot hold is written as UTF-8 with a byte-order mark instead (which every
// reader of these files takes), and one that even UTF-8 cannot (an unpaired
// surrogate) as UTF-16LE with its mark.
std::string encodeTextWhole(std::u16string_view text, TextEncoding encoding);

}  // namespace platform
