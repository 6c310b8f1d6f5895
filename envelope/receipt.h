#pragma once
// Opening an envelope from a peer whose Windows may run another ANSI code page.
//
// The envelope carries its payload bytes as characters of the sender's code
// page; read through another code page they are other bytes, and the envelope
// does not open. So when it does not open through the receiver's own code
// page, it is read through each of senderCodePages that the platform has (a
// character the code page lacks rules it out), and one is accepted only when
// the length prefix and the zero fill verify it and no other reading that
// gives other bytes does: a wrong reading passes by chance with odds of one
// in 256 per byte of zero fill. Code pages that read the envelope as the same
// bytes count as one reading.
//
// The fill covers the last block only: an own reading that opened but had to
// put the default character for characters the receiver's code page lacks
// may be wrong in its earlier blocks, and one whose length is a multiple of
// 16 is not verified at all. Both give way to another reading that verifies.
// A message of 16, 32, 48, ... bytes has no zero fill and cannot be verified
// through any code page: it is read through the receiver's, as it always was.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ElAES.h"
#include "envelope/envelope.h"

namespace envelope {

// After the receiver's own, in this order: Cyrillic, Western, Central
// European, Turkish, Baltic, Greek, and DOS Cyrillic.
inline constexpr unsigned senderCodePages[] = {1251, 1252, 1250, 1254, 1257, 1253, 866};

struct Received {
    std::string text;            // the message's bytes in codePage, trailing zero bytes removed
    std::uint32_t declaredLength = 0;
    unsigned codePage = 0;       // the receiver's own, or the sender's that was found
    std::vector<unsigned> alike;  // other code pages that read the envelope as the same bytes
    bool verified = false;       // false: no zero fill, so a wrong key could not be told
    std::size_t digits = 0;      // characters after the marker that the envelope took
};

enum class Extent {
    Whole,   // every character given belongs to the envelope (a message received)
    Prefix,  // given a run of hex digits, the envelope ends where its length
             // prefix says, and what follows is not its own (text glued on)
};

// Opens the envelope whose digits follow the marker. ownPayload is
// payloadOf(hexText, ownCodePage) when the caller has it. Raises EEnvelopeError:
// what open() raises through the receiver's code page, or that two readings
// open to different messages.
Received openReceived(std::string_view hexText, const ElAES::Key& key, unsigned ownCodePage, Extent extent);
Received openReceived(std::string_view hexText, const std::string& ownPayload, const ElAES::Key& key,
                      unsigned ownCodePage);

// The message's text in another code page: its characters, and the target's
// default character for those it lacks.
std::string textInCodePage(const Received& received, unsigned targetCodePage);

}  // namespace envelope
