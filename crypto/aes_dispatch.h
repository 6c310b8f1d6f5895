#pragma once
// The two implementations behind ElAES, and which one runs.
//
// The functions of ElAES.h dispatch at run time: on an x86 processor whose
// CPUID reports AES-NI (and SSE4.1) they run on the AES instructions, which
// take the same time whatever the key and the data; anywhere else they run on
// the portable table-based code. Both give the same bytes, and a schedule built
// by either serves the block operations of both: the schedule's layout is the
// same, and on x86 the 16 bytes of round key r are the little-endian bytes of
// words 4r to 4r+3, exactly what AESENC and AESDEC take.
//
// The namespaces below name each implementation directly, for tests and
// benchmarks. The aesni functions exist only where ELAES_HAVE_AESNI is 1 and
// must only be called when hardwareSupported() is true.
//
// Building with MISTLOCK_PORTABLE_AES=ON (ELAES_PORTABLE_ONLY) leaves the
// hardware path out altogether; forcePortable() switches to the portable path
// at run time, process-wide.
#include <cstdint>

#include "crypto/ElAES.h"

#if !defined(ELAES_PORTABLE_ONLY) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ELAES_HAVE_AESNI 1
#else
#define ELAES_HAVE_AESNI 0
#endif

namespace ElAES {

enum class Implementation {
    Portable,  // the table-based code: any processor, not constant-time
    AesNi,     // the AES instructions of x86 processors
};

// "portable" or "aes-ni".
const char* implementationName(Implementation implementation);

// True when this build has the hardware path and the processor can run it.
bool hardwareSupported();

// The implementation that the functions of ElAES.h use now.
Implementation activeImplementation();

// With true, every later call of ElAES.h runs on the portable path; with
// false, the choice goes back to what the processor supports. Meant for tests
// and benchmarks; not to be called while another thread is inside ElAES.
void forcePortable(bool force);

// The table-based implementation, on every processor.
namespace portable {
void buildEncryptionSchedule(const Key& key, Schedule& schedule);
void buildDecryptionSchedule(const Key& key, Schedule& schedule);
void encryptBlock(const Block& input, const Schedule& schedule, Block& output);
void decryptBlock(const Block& input, const Schedule& schedule, Block& output);
void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);
void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);
}  // namespace portable

#if ELAES_HAVE_AESNI
// The AES-NI implementation. Only when hardwareSupported().
namespace aesni {
void buildEncryptionSchedule(const Key& key, Schedule& schedule);
void buildDecryptionSchedule(const Key& key, Schedule& schedule);
void encryptBlock(const Block& input, const Schedule& schedule, Block& output);
void decryptBlock(const Block& input, const Schedule& schedule, Block& output);
void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination);
void encryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);
void decryptStreamWithSchedule(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                               ByteStream& destination);
}  // namespace aesni
#endif

}  // namespace ElAES
