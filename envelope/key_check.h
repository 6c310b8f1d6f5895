#pragma once
// The key check code: twelve digits that two friends read to each other over
// the phone to make sure they hold the same key block, before they rely on it.
//
// It is PBKDF2-HMAC-SHA256 of the 32-byte key block, under a salt that is the
// same for everybody (both ends must get the same code from the key alone)
// and keyCheckIterations rounds, cut to 40 bits. Whoever sees the code learns
// no more than one envelope tells: to test a guessed key against the code
// costs 2 x 30000 SHA-256 compressions (about 15 ms on one core of a 2.3 GHz
// Xeon), against an envelope one AES key schedule and block (well under a
// microsecond). And 40 bits cannot single out a 256-bit key: about 2^216
// keys share each code. It is worked out for the about box and `mistlock
// key-id`, never per message.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"

namespace envelope {

inline constexpr std::string_view keyCheckSalt = "Mistlock key check code";
#ifndef MISTLOCK_FUZZ_BUILD
inline constexpr std::uint32_t keyCheckIterations = 30000;
#else
inline constexpr std::uint32_t keyCheckIterations = 2;  // see CMakeLists.txt
#endif

// "dddd dddd dddd": the first eight bytes of the derived key as a big-endian
// number, modulo 10^12, in three groups of four digits. Digits read alike
// aloud in every language the plug-in's users speak.
std::string keyCheckCode(const ElAES::Key& key);

}  // namespace envelope
