#pragma once
// ElAES: AES-256 (FIPS-197, 32-byte key, 14 rounds) on 16-byte blocks, and
// the stream routines that run it in electronic codebook mode over byte
// streams, zero-filling the last block.
//
// Several implementations stand behind these functions (aes_dispatch.h): on x86
// processors with AES-NI the AES instructions (on XMM registers, or on YMM or
// ZMM registers where VAES runs), chosen at run time from CPUID and XGETBV;
// elsewhere the portable table-based code. They give the same bytes, and their
// schedules are interchangeable.
//
// Side channels: the AES-NI path reads no table and takes the same time for
// every key and block. The portable path is table-based, not constant-time:
// every round looks up key- and data-dependent entries of 1 KB tables, so the
// memory access pattern depends on the key and the data, and an attacker who
// shares the cache with it (or times it precisely) can learn about the key.
//
// Byte order is that of FIPS-197 for keys and blocks. Internally each state
// column and each schedule word is one 32-bit word whose least significant
// byte is row 0; words are assembled from bytes explicitly, so the results are
// the same on little- and big-endian machines.
//
// Block operations and the stream routines allocate nothing on the heap
// (except the exception object when an error is raised).
#include <array>
#include <cstdint>

#include "crypto/byte_stream.h"
#include "platform/exception.h"

namespace ElAES {

// The cipher key: 32 bytes, k(0) at the lowest address.
using Key = std::array<std::uint8_t, 32>;

// One block of 16 bytes in FIPS-197 input order: column c is bytes 4c..4c+3.
using Block = std::array<std::uint8_t, 16>;

// A key schedule of 64 column words. An encryption schedule holds FIPS-197's
// w[0..59] followed by the four words that the last pass of the expansion
// yields; a decryption schedule has round keys 1 to 13 (words 4 to 55) passed
// through InvMixColumns, for the equivalent inverse cipher.
struct Schedule {
    std::uint32_t w[64];
};

// The AES unit's own failure: raised by the decryption routines when the run
// of bytes to decrypt is not a whole number of blocks.
class EAESError : public Exception {
public:
    using Exception::Exception;
};

// Key schedules. Neither can fail.
void buildEncryptionSchedule(const Key& key, Schedule& schedule);
void buildDecryptionSchedule(const Key& key, Schedule& schedule);

// One block under an encryption (decryption) schedule. input and output may be
// the same storage: all of the input is read before the output is written.
void encryptBlock(const Block& input, const Schedule& schedule, Block& output);
void decryptBlock(const Block& input, const Schedule& schedule, Block& output);

// Stream routines. count bytes are taken from source at its position; a count
// of 0 rewinds source to 0 and takes all of it, and a count beyond the end is
// cut to what is left. The result is written block by block at destination's
// position; destination is never truncated or repositioned.
//
// Encryption zero-fills a last partial block and adds nothing else: the output
// is 16 * ceil(count / 16) bytes. Decryption raises EAESError ("Invalid buffer
// size for decryption") before touching either stream when the count is not a
// multiple of 16, and strips nothing. A stream that delivers or takes fewer
// bytes than asked raises EStreamError ("Stream read error", "Stream write
// error"); blocks written before stay written.
//
// The streams are read and written one 16-byte block a call, except where both
// lend their memory (byte_stream.h): then all whole blocks are taken and
// written at once, with the same bytes, positions and errors as block by
// block.
void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);
void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);

}  // namespace ElAES
