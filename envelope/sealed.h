#pragma once
// The sealed envelope: what two Mistlock users exchange while their key
// source is a sealed key file (key_block.h). Unlike the classic envelope it
// is authenticated, carries a fresh nonce in every message, shows the length
// only to 32 bytes, and reads alike in every code page:
//
//   "#MSTLK2:" followed by base64url without padding (base64url.h) of
//   0x02 (the version) || nonce (12 bytes) || ciphertext || tag (16 bytes)
//
// where the ciphertext is AES-256-GCM (crypto/gcm.h) under the sealed key,
// with the 9 bytes "#MSTLK2:" 0x02 as associated data, of the message's UTF-8
// form followed by 0x80 and zero bytes up to the next multiple of 32. The
// sealed key is HKDF-SHA256 of the key file's whole first line as UTF-16LE.
// docs/sealed-envelope.md gives the format to other implementations.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "crypto/gcm.h"
#include "crypto/wipe.h"
#include "envelope/envelope.h"

namespace envelope::sealed {

inline constexpr std::string_view marker = "#MSTLK2:";
inline constexpr std::uint8_t version = 2;
// The plain text is padded to a multiple of this.
inline constexpr std::size_t paddingBlock = 32;
inline constexpr std::string_view keySalt = "Mistlock sealed envelope";
inline constexpr std::string_view keyInfo = "AES-256-GCM key";

using Nonce = std::array<std::uint8_t, ElAES::kGcmNonceSize>;

// The system gave no random bytes for a nonce: nothing can be sealed now.
// The message says what failed and what to do.
class ENoNonce : public Exception {
public:
    using Exception::Exception;
};

// The sealed key of a sealed key file's first line: HKDF-SHA256 with the
// line's UTF-16LE bytes as input key material, every unit of it.
ElAES::SecretKey keyFromText(std::u16string_view firstLine);

// The envelope of a message's bytes in the code page, under a nonce drawn
// from the system's random generator. Raises ENoNonce when there is none.
std::string seal(std::string_view message, const ElAES::Key& key, unsigned codePage);

// The same under the nonce given, which must never seal two messages under
// one key: that would give away the authentication key. For callers that
// draw the nonce themselves.
std::string sealWithNonce(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce);

// The same envelope handed to `sink` in pieces, so that its text is never
// whole.
void sealWithNonce(std::string_view message, const ElAES::Key& key, unsigned codePage, const Nonce& nonce,
                   const TextSink& sink);

// True when a received text begins with the marker at its first character.
bool hasMarker(std::string_view text);

// All that can be known of a received envelope before the key is looked for:
// the bytes its text after the marker spells. Raises EEnvelopeError for what
// no key opens: text that is not base64url (base64url.h), fewer bytes than
// the shortest envelope, a ciphertext that is not whole blocks of 32 bytes,
// and a version other than 2.
class Received {
public:
    explicit Received(std::string_view textAfterMarker);

    // Decrypts the envelope where it lies, once: the message's UTF-8 form,
    // not yet checked, followed in its storage by zero bytes (four at least).
    // Raises EEnvelopeError when the tag does not match (a wrong key, or any
    // byte changed), or the padding is not 0x80 and zero bytes.
    std::string_view decrypt(const ElAES::Key& key);

private:
    std::string bytes_;
};

// The message's UTF-8 form, checked strictly. Raises as decrypt() does, and
// when the text is not UTF-8.
std::string openToUtf8(Received&& received, const ElAES::Key& key);

// The same where it lies in `received`, not copied: valid until `received`
// goes.
std::string_view openInPlace(Received& received, const ElAES::Key& key);

// The message in the code page, a character the code page lacks narrowed to
// its default character, without best fit. Raises as openToUtf8 does.
std::string open(Received&& received, const ElAES::Key& key, unsigned codePage);

}  // namespace envelope::sealed
