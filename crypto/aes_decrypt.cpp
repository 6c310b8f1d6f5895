// The equivalent inverse cipher on one block: 14 rounds written out, the state
// in four column words, one table for the 13 full rounds and the inverse S-box
// word table for the last. Needs a decryption schedule.
#include "crypto/ElAES.h"
#include "crypto/aes_internal.h"

namespace ElAES::portable {
namespace {

using detail::byteOf;
using detail::rotl;

// InvSubBytes, InvShiftRows, InvMixColumns and AddRoundKey (with a round key
// already through InvMixColumns) in one. Row r of new column c comes from old
// column c - r.
ELAES_INLINE void fullRound(const std::uint32_t* U, const std::uint32_t* k, std::uint32_t s0, std::uint32_t s1,
                            std::uint32_t s2, std::uint32_t s3, std::uint32_t& t0, std::uint32_t& t1,
                            std::uint32_t& t2, std::uint32_t& t3) {
    t0 = U[byteOf(s0, 0)] ^ rotl(U[byteOf(s3, 1)], 8) ^ rotl(U[byteOf(s2, 2)], 16) ^ rotl(U[byteOf(s1, 3)], 24) ^ k[0];
    t1 = U[byteOf(s1, 0)] ^ rotl(U[byteOf(s0, 1)], 8) ^ rotl(U[byteOf(s3, 2)], 16) ^ rotl(U[byteOf(s2, 3)], 24) ^ k[1];
    t2 = U[byteOf(s2, 0)] ^ rotl(U[byteOf(s1, 1)], 8) ^ rotl(U[byteOf(s0, 2)], 16) ^ rotl(U[byteOf(s3, 3)], 24) ^ k[2];
    t3 = U[byteOf(s3, 0)] ^ rotl(U[byteOf(s2, 1)], 8) ^ rotl(U[byteOf(s1, 2)], 16) ^ rotl(U[byteOf(s0, 3)], 24) ^ k[3];
}

}  // namespace

void decryptBlock(const Block& input, const Schedule& schedule, Block& output) {
    const std::uint32_t* U = detail::inverseRoundTable.data();
    const std::uint32_t* V = detail::inverseSboxWordTable.data();
    const std::uint32_t* D = schedule.w;

    // The whole input is read here, before anything is written.
    std::uint32_t s0 = detail::loadWord(&input[0]) ^ D[56];
    std::uint32_t s1 = detail::loadWord(&input[4]) ^ D[57];
    std::uint32_t s2 = detail::loadWord(&input[8]) ^ D[58];
    std::uint32_t s3 = detail::loadWord(&input[12]) ^ D[59];
    std::uint32_t t0, t1, t2, t3;

    fullRound(U, D + 52, s0, s1, s2, s3, t0, t1, t2, t3);  // round 13
    fullRound(U, D + 48, t0, t1, t2, t3, s0, s1, s2, s3);  // round 12
    fullRound(U, D + 44, s0, s1, s2, s3, t0, t1, t2, t3);  // round 11
    fullRound(U, D + 40, t0, t1, t2, t3, s0, s1, s2, s3);  // round 10
    fullRound(U, D + 36, s0, s1, s2, s3, t0, t1, t2, t3);  // round 9
    fullRound(U, D + 32, t0, t1, t2, t3, s0, s1, s2, s3);  // round 8
    fullRound(U, D + 28, s0, s1, s2, s3, t0, t1, t2, t3);  // round 7
    fullRound(U, D + 24, t0, t1, t2, t3, s0, s1, s2, s3);  // round 6
    fullRound(U, D + 20, s0, s1, s2, s3, t0, t1, t2, t3);  // round 5
    fullRound(U, D + 16, t0, t1, t2, t3, s0, s1, s2, s3);  // round 4
    fullRound(U, D + 12, s0, s1, s2, s3, t0, t1, t2, t3);  // round 3
    fullRound(U, D + 8, t0, t1, t2, t3, s0, s1, s2, s3);   // round 2
    fullRound(U, D + 4, s0, s1, s2, s3, t0, t1, t2, t3);   // round 1

    // Last round: InvSubBytes, InvShiftRows and AddRoundKey with round key 0.
    s0 = V[byteOf(t0, 0)] ^ rotl(V[byteOf(t3, 1)], 8) ^ rotl(V[byteOf(t2, 2)], 16) ^ rotl(V[byteOf(t1, 3)], 24) ^ D[0];
    s1 = V[byteOf(t1, 0)] ^ rotl(V[byteOf(t0, 1)], 8) ^ rotl(V[byteOf(t3, 2)], 16) ^ rotl(V[byteOf(t2, 3)], 24) ^ D[1];
    s2 = V[byteOf(t2, 0)] ^ rotl(V[byteOf(t1, 1)], 8) ^ rotl(V[byteOf(t0, 2)], 16) ^ rotl(V[byteOf(t3, 3)], 24) ^ D[2];
    s3 = V[byteOf(t3, 0)] ^ rotl(V[byteOf(t2, 1)], 8) ^ rotl(V[byteOf(t1, 2)], 16) ^ rotl(V[byteOf(t0, 3)], 24) ^ D[3];

    detail::storeWord(&output[0], s0);
    detail::storeWord(&output[4], s1);
    detail::storeWord(&output[8], s2);
    detail::storeWord(&output[12], s3);
}

}  // namespace ElAES::portable
