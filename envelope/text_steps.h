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

// 8-bit text to hex digits of its UTF-8 form: widened through the code page,
// UTF-8 encoded, two uppercase digits a byte.
std::string hexEncode(std::string_view text, unsigned codePage);

// The reverse: pairs of hex digits in either case (an odd last digit must be
// a digit and adds nothing), strictly decoded as UTF-8, narrowed to the code
// page. Raises EEnvelopeError on anything else; a position it names counts
// from the marker's first character, as the user sees the envelope.
std::string hexDecode(std::string_view hexText, unsigned codePage);

// Appends hexEncode of the bytes as the code page gives them back (widened,
// then narrowed): the digits that carry a payload.
void appendSealedDigits(std::string& out, std::string_view payload, unsigned codePage);

// Widens and narrows the bytes through the code page, in place: the text that
// a decrypted payload stands for. With a single-byte code page every byte
// comes back as it was.
void passThroughCodePage(std::string& bytes, unsigned codePage);

}  // namespace envelope
