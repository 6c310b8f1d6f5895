// The cipher on one block: 14 rounds written out, the state in four column
// words, one table for the 13 full rounds and the S-box word table for the last.
#include "crypto/ElAES.h"
#include "crypto/aes_internal.h"

namespace ElAES::portable {
namespace {

using detail::byteOf;
using detail::rotl;

// SubBytes, ShiftRows, MixColumns and AddRoundKey in one. Row r of new column
// c comes from old column c + r; the rotation puts the table entry, laid out
// for row 0, in the place of row r.
ELAES_INLINE void fullRound(const std::uint32_t* T, const std::uint32_t* k, std::uint32_t s0, std::uint32_t s1,
                            std::uint32_t s2, std::uint32_t s3, std::uint32_t& t0, std::uint32_t& t1,
                            std::uint32_t& t2, std::uint32_t& t3) {
    t0 = T[byteOf(s0, 0)] ^ rotl(T[byteOf(s1, 1)], 8) ^ rotl(T[byteOf(s2, 2)], 16) ^ rotl(T[byteOf(s3, 3)], 24) ^ k[0];
    t1 = T[byteOf(s1, 0)] ^ rotl(T[byteOf(s2, 1)], 8) ^ rotl(T[byteOf(s3, 2)], 16) ^ rotl(T[byteOf(s0, 3)], 24) ^ k[1];
    t2 = T[byteOf(s2, 0)] ^ rotl(T[byteOf(s3, 1)], 8) ^ rotl(T[byteOf(s0, 2)], 16) ^ rotl(T[byteOf(s1, 3)], 24) ^ k[2];
    t3 = T[byteOf(s3, 0)] ^ rotl(T[byteOf(s0, 1)], 8) ^ rotl(T[byteOf(s1, 2)], 16) ^ rotl(T[byteOf(s2, 3)], 24) ^ k[3];
}

}  // namespace

void encryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    const std::uint32_t* T = detail::forwardRoundTable.data();
    const std::uint32_t* S = detail::sboxWordTable.data();
    const std::uint32_t* W = schedule.w;

    // The whole input is read here, before anything is written.
    std::uint32_t s0 = detail::loadWord(&input[0]) ^ W[0];
    std::uint32_t s1 = detail::loadWord(&input[4]) ^ W[1];
    std::uint32_t s2 = detail::loadWord(&input[8]) ^ W[2];
    std::uint32_t s3 = detail::loadWord(&input[12]) ^ W[3];
    std::uint32_t t0, t1, t2, t3;

    fullRound(T, W + 4, s0, s1, s2, s3, t0, t1, t2, t3);   // round 1
    fullRound(T, W + 8, t0, t1, t2, t3, s0, s1, s2, s3);   // round 2
    fullRound(T, W + 12, s0, s1, s2, s3, t0, t1, t2, t3);  // round 3
    fullRound(T, W + 16, t0, t1, t2, t3, s0, s1, s2, s3);  // round 4
    fullRound(T, W + 20, s0, s1, s2, s3, t0, t1, t2, t3);  // round 5
    fullRound(T, W + 24, t0, t1, t2, t3, s0, s1, s2, s3);  // round 6
    fullRound(T, W + 28, s0, s1, s2, s3, t0, t1, t2, t3);  // round 7
    fullRound(T, W + 32, t0, t1, t2, t3, s0, s1, s2, s3);  // round 8
    fullRound(T, W + 36, s0, s1, s2, s3, t0, t1, t2, t3);  // round 9
    fullRound(T, W + 40, t0, t1, t2, t3, s0, s1, s2, s3);  // round 10
    fullRound(T, W + 44, s0, s1, s2, s3, t0, t1, t2, t3);  // round 11
    fullRound(T, W + 48, t0, t1, t2, t3, s0, s1, s2, s3);  // round 12
    fullRound(T, W + 52, s0, s1, s2, s3, t0, t1, t2, t3);  // round 13

    // Round 14: SubBytes, ShiftRows and AddRoundKey, no MixColumns.
    s0 = S[byteOf(t0, 0)] ^ rotl(S[byteOf(t1, 1)], 8) ^ rotl(S[byteOf(t2, 2)], 16) ^ rotl(S[byteOf(t3, 3)], 24) ^ W[56];
    s1 = S[byteOf(t1, 0)] ^ rotl(S[byteOf(t2, 1)], 8) ^ rotl(S[byteOf(t3, 2)], 16) ^ rotl(S[byteOf(t0, 3)], 24) ^ W[57];
    s2 = S[byteOf(t2, 0)] ^ rotl(S[byteOf(t3, 1)], 8) ^ rotl(S[byteOf(t0, 2)], 16) ^ rotl(S[byteOf(t1, 3)], 24) ^ W[58];
    s3 = S[byteOf(t3, 0)] ^ rotl(S[byteOf(t0, 1)], 8) ^ rotl(S[byteOf(t1, 2)], 16) ^ rotl(S[byteOf(t2, 3)], 24) ^ W[59];

    detail::storeWord(&output[0], s0);
    detail::storeWord(&output[4], s1);
    detail::storeWord(&output[8], s2);
    detail::storeWord(&output[12], s3);
}

}  // namespace ElAES::portable
