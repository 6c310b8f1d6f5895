#pragma once
// The envelope's text steps: between 8-bit text in the peers' code page and
// the hex digits of its UTF-8 form, which is what the envelope carries after
// its marker. Each step is the platform's conversions done one after the other
// (widen through the code page, UTF-8, hex, and back); where the code page
// converts byte-wise they run through tables of single bytes instead
// (byte_tables.h), with the same results and the same errors.
#include <string>
#include <string_view>

#include "envelope/envelope.h"

namespace envelope {

// Whether the code page converts each byte alone (every single-byte code
// page does): text in it converts alike whole or cut anywhere into pieces.
bool convertsByteWise(unsigned codePage);

// 8-bit text to hex digits of its UTF-8 form: widened through the code page,
// UTF-8 encoded, two uppercase digits a byte.
std::string hexEncode(std::string_view text, unsigned codePage);

// The reverse: pairs of hex digits in either case (an odd last digit must be
// a digit and adds nothing), strictly decoded as UTF-8, narrowed to the code
// page. Raises EEnvelopeError on anything else; a position it names counts
// from the marker's first character, as the user sees the envelope.
std::string hexDecode(std::string_view hexText, unsigned codePage);

// The bytes that hex digits spell, before any code page reads them: pairs of
// digits in either case (an odd last digit must be a digit and adds nothing).
// Four zero bytes follow them in their storage, as readStrictly wants. Raises
// EEnvelopeError, as hexDecode does, for a character that is no digit.
class SpelledBytes {
public:
    static constexpr std::size_t kPadding = 4;
    explicit SpelledBytes(std::string_view hexText);
    // The same for the `count` digits from `from` in `storage`, which it takes
    // and decodes in place: a long envelope is not held twice.
    SpelledBytes(std::string&& storage, std::size_t from, std::size_t count);
    std::string_view bytes() const { return {storage_.data(), storage_.size() - kPadding}; }

private:
    std::string storage_;
};

// UTF-8 bytes read through the code page, one byte a character, when every
// character is one of those its bytes widen to: true, with the bytes in out;
// false for anything else (a character the code page lacks, invalid UTF-8),
// with out undefined. Four readable bytes must follow `utf8` in its storage.
bool readStrictly(std::string_view utf8, unsigned codePage, std::string& out);

// Appends hexEncode of the bytes as the code page gives them back (widened,
// then narrowed): the digits that carry a payload.
void appendSealedDigits(std::string& out, std::string_view payload, unsigned codePage);

// Widens and narrows the bytes through the code page, in place: the text that
// a decrypted payload stands for. With a single-byte code page every byte
// comes back as it was.
void passThroughCodePage(std::string& bytes, unsigned codePage);

}  // namespace envelope
