#pragma once
// Opening an envelope from a peer whose Windows may run another ANSI code page.
//
// The envelope carries its payload bytes as characters of the sender's code
// page, and nothing in it says which code page that was. So the receiver
// reads it through its own code page and through each of senderCodePages
// that the platform has: a code page reads the envelope when every character
// of it is one of the code page's 256, and code pages that read the same
// bytes make one reading. The length prefix and the zero fill of the last
// block then decide, once the key is known:
//
// - A reading whose fill decrypts to zeros is verified. One verified reading
//   is the message. Two that give different bytes make the envelope
//   ambiguous, and it is refused: each block is enciphered on its own and the
//   fill checks the last, so readings that differ only before it pass alike.
//   (Every envelope Mistlock seals has four bytes of fill or more: a reading
//   that changes the last block passes with odds of 2^-32.)
// - With none verified, a reading whose fill does not decrypt to zeros means
//   a wrong key or a damaged envelope, and the envelope is refused, whatever
//   a reading without fill would give: a wrong key never passes as
//   "unverifiable" because a length was read through the wrong code page.
// - Otherwise the receiver's own reading of a length that is a multiple of
//   16 (as earlier plug-ins sealed 16, 32, 48... bytes) has no fill to check,
//   and opens unverified. Another code page's such reading
//   is not taken: nothing says that it is the sender's.
//
// Code pages that read the same bytes may read the message as other
// characters (Turkish and Western share most bytes, not all). The message is
// then taken in the receiver's own code page when that is one of them, else
// in the first of them in the order of senderCodePages, and the others are
// named in Received::alike.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ElAES.h"
#include "envelope/envelope.h"
#include "envelope/text_steps.h"

namespace envelope {

// After the receiver's own, in this order: Cyrillic, Western, Central
// European, Turkish, Baltic, Greek, and DOS Cyrillic.
inline constexpr unsigned senderCodePages[] = {1251, 1252, 1250, 1254, 1257, 1253, 866};

struct Received {
    std::string text;            // the message's bytes in codePage, trailing zero bytes removed
    std::uint32_t declaredLength = 0;
    unsigned codePage = 0;       // the code page the message is taken in: see above
    std::vector<unsigned> alike;  // other code pages that read the same bytes, and the message as other characters
    bool verified = false;       // false: no zero fill, so a wrong key could not be told
    std::size_t digits = 0;      // characters after the marker that the envelope took
};

enum class Extent {
    Whole,   // every character given belongs to the envelope (a message received)
    Prefix,  // given a run of hex digits, the envelope ends where its length
             // prefix says, and what follows is not its own (text glued on)
};

// What one or more code pages read an envelope as.
struct Reading {
    std::string payload;
    std::vector<unsigned> codePages;  // the receiver's own first, then in the order of senderCodePages
    std::size_t digits = 0;           // characters after the marker it took
};

// All that can be known of a received envelope before the key is looked for:
// its digits decoded, and every reading of them. Raises EEnvelopeError for
// what no key opens: a character that is not a hexadecimal digit, invalid
// UTF-8, fewer than four characters, characters that neither the receiver's
// code page nor another of senderCodePages has, and (Prefix) fewer digits
// than the length prefix asks for.
class ReceivedDigits {
public:
    ReceivedDigits(std::string_view hexText, unsigned ownCodePage, Extent extent);
    // The same for the `count` digits from `from` in `text`, which it takes
    // and decodes in place, freeing it before the readings are opened.
    ReceivedDigits(std::string&& text, std::size_t from, std::size_t count, unsigned ownCodePage, Extent extent);
    const std::vector<Reading>& readings() const { return readings_; }
    unsigned ownCodePage() const { return ownCodePage_; }

private:
    void read(const SpelledBytes& spelled, std::size_t hexSize, Extent extent);

    unsigned ownCodePage_;
    std::vector<Reading> readings_;
};

// Opens the envelope by the rules above. Raises EEnvelopeError: what
// openPayload() raises for the reading at fault, or that two readings open to
// different messages, or that the only reading has no fill to check.
Received openReceived(const ReceivedDigits& digits, const ElAES::Key& key);
Received openReceived(std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent);

// The message's text in another code page: its characters, and the target's
// default character for those it lacks.
std::string textInCodePage(const Received& received, unsigned targetCodePage);

}  // namespace envelope
