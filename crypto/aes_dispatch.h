#pragma once
// The implementations behind ElAES, each one table, and which one runs.
//
// The functions of ElAES.h follow one table, chosen on their first call: the
// widest of the AES-instruction paths that the processor and the operating
// system can run (VAES on ZMM, VAES on YMM, AES-NI with SSE4.1), which take
// the same time whatever the key and the data; the portable table-based code
// anywhere else. The instruction paths differ only in how many blocks their
// multi-block operation keeps in flight: their schedules and single blocks
// are the same code. Both give the same bytes, and a schedule
// built by either serves the block operations of both: the schedule's layout is
// the same, and on x86 the 16 bytes of round key r are the little-endian bytes
// of words 4r to 4r+3, exactly what AESENC and AESDEC take.
//
// Tests and benchmarks reach each implementation through its table, as the
// unit itself does; there is no other way in.
//
// Building with MISTLOCK_PORTABLE_AES=ON (ELAES_PORTABLE_ONLY) leaves the
// hardware paths out altogether; forcePortable() and forceImplementation()
// switch paths at run time, process-wide.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/ElAES.h"

#if !defined(ELAES_PORTABLE_ONLY) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ELAES_HAVE_AESNI 1
#else
#define ELAES_HAVE_AESNI 0
#endif

namespace ElAES {

// Narrowest first.
enum class Implementation {
    Portable,  // the table-based code: any processor, not constant-time
    AesNi,     // the AES instructions of x86 processors, twelve blocks in flight
    Vaes256,   // the same, two blocks a YMM register, sixteen in flight
    Vaes512,   // the same, four blocks a ZMM register, thirty-two in flight
};

// "portable", "aes-ni", "vaes-256" or "vaes-512".
constexpr const char* implementationName(Implementation implementation) {
    switch (implementation) {
        case Implementation::AesNi:
            return "aes-ni";
        case Implementation::Vaes256:
            return "vaes-256";
        case Implementation::Vaes512:
            return "vaes-512";
        case Implementation::Portable:
            break;
    }
    return "portable";
}

// One implementation: the operations of ElAES.h that differ between paths,
// each a plain function pointer, never null. A schedule built by one table's
// builders serves every table's block and stream entries.
//
// The stream entries belong to the table, not to the unit, so that a path can
// run a run of blocks its own way: its multi-block entry keeps several blocks
// in flight in the AES units, and its stream entries use it where both
// streams lend their memory (byte_stream.h).
struct ImplementationTable {
    Implementation kind;
    const char* name;  // implementationName(kind)

    void (*buildEncryptionSchedule)(const Key& key, Schedule& schedule);
    void (*buildDecryptionSchedule)(const Key& key, Schedule& schedule);
    void (*encryptBlock)(const Block& input, const Schedule& schedule, Block& output);
    void (*decryptBlock)(const Block& input, const Schedule& schedule, Block& output);
    // `blocks` whole blocks from in to out: the same storage, or apart.
    void (*encryptBlocks)(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule);
    void (*decryptBlocks)(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, const Schedule& schedule);
    void (*encryptStreamWithSchedule)(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                                      ByteStream& destination);
    void (*decryptStreamWithSchedule)(ByteStream& source, std::uint32_t count, const Schedule& schedule,
                                      ByteStream& destination);

    // The key-taking stream routines of ElAES.h on this table: the schedule is
    // built by this table's builder on the routine's own frame, and wiped
    // before the routine is left, by return or by a stream's exception alike.
    void encryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) const;
    void decryptStream(ByteStream& source, std::uint32_t count, const Key& key, ByteStream& destination) const;
};

// The table-based implementation, on every processor.
const ImplementationTable& portableImplementation();

// The table of that kind where this build has it and the processor and the
// operating system can run it; null anywhere else.
const ImplementationTable* implementationOf(Implementation kind);

// Every implementation this build and this processor can run, narrowest
// (the portable one) first.
std::vector<const ImplementationTable*> availableImplementations();

// The implementation that the functions of ElAES.h use now.
Implementation activeImplementation();

// With true, every later call of ElAES.h runs on the portable path; with
// false, the choice goes back to what the processor supports. Meant for tests
// and benchmarks; not to be called while another thread is inside ElAES.
void forcePortable(bool force);

// Every later call of ElAES.h runs on that implementation, until
// forcePortable(false); false, with nothing changed, when it cannot run here.
// For tests and benchmarks, as forcePortable.
bool forceImplementation(Implementation kind);

}  // namespace ElAES
