// Key expansion for a 256-bit key, carried on to 64 words, and the schedule of
// the equivalent inverse cipher derived from it.
#include "crypto/ElAES.h"
#include "crypto/aes_internal.h"

namespace ElAES::portable {
namespace {

using detail::byteOf;
using detail::rotl;

// Each byte through the S-box, staying in its row.
ELAES_INLINE std::uint32_t subWord(std::uint32_t x) {
    const detail::Table& S = detail::sboxWordTable;
    return S[byteOf(x, 0)] ^ rotl(S[byteOf(x, 1)], 8) ^ rotl(S[byteOf(x, 2)], 16) ^ rotl(S[byteOf(x, 3)], 24);
}

// FIPS-197 RotWord in column-word form: row 1 moves to row 0, row 0 to row 3.
ELAES_INLINE std::uint32_t rotWord(std::uint32_t x) {
    return rotl(x, 24);
}

// Multiplies each of the four bytes by 2 in GF(2^8) at once: the bytes are
// shifted within their lanes, and those whose top bit fell off get 0x1b.
ELAES_INLINE std::uint32_t doubleBytes(std::uint32_t a) {
    return ((a & 0x7f7f7f7fu) << 1) ^ (((a >> 7) & 0x01010101u) * 0x1bu);
}

// InvMixColumns of one column: new byte r = 14·a(r) ^ 11·a(r+1) ^ 13·a(r+2) ^
// 9·a(r+3). The word whose byte r is a(r+k) is the word rotated right by 8k.
ELAES_INLINE std::uint32_t invMixColumn(std::uint32_t a) {
    const std::uint32_t a2 = doubleBytes(a);
    const std::uint32_t a4 = doubleBytes(a2);
    const std::uint32_t a8 = doubleBytes(a4);
    const std::uint32_t a9 = a8 ^ a;
    const std::uint32_t a11 = a9 ^ a2;
    const std::uint32_t a13 = a9 ^ a4;
    const std::uint32_t a14 = a8 ^ a4 ^ a2;
    return a14 ^ rotl(a11, 24) ^ rotl(a13, 16) ^ rotl(a9, 8);
}

}  // namespace

void buildEncryptionSchedule(const Key& key, Schedule& schedule) {
    std::uint32_t* W = schedule.w;
    for (unsigned j = 0; j < 8; ++j) {
        W[j] = detail::loadWord(key.data() + 4 * j);
    }
    // Seven passes of eight words; the round constant of pass p is 2^(p-1) in
    // row 0. The last pass gives W[56..63], of which W[60..63] go beyond the
    // 60 words that the rounds use.
    std::uint32_t rcon = 0x01;
    for (unsigned i = 0; i < 56; i += 8) {
        W[i + 8] = W[i] ^ subWord(rotWord(W[i + 7])) ^ rcon;
        W[i + 9] = W[i + 1] ^ W[i + 8];
        W[i + 10] = W[i + 2] ^ W[i + 9];
        W[i + 11] = W[i + 3] ^ W[i + 10];
        W[i + 12] = W[i + 4] ^ subWord(W[i + 11]);
        W[i + 13] = W[i + 5] ^ W[i + 12];
        W[i + 14] = W[i + 6] ^ W[i + 13];
        W[i + 15] = W[i + 7] ^ W[i + 14];
        rcon <<= 1;
    }
}

void buildDecryptionSchedule(const Key& key, Schedule& schedule) {
    portable::buildEncryptionSchedule(key, schedule);
    // Round keys 1 to 13; round keys 0 and 14 and the four extra words stay.
    for (unsigned i = 4; i < 56; ++i) {
        schedule.w[i] = invMixColumn(schedule.w[i]);
    }
}

}  // namespace ElAES::portable
