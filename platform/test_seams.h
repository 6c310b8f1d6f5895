#pragma once
// Fault-injection seams of the file layer, the random source and the code
// jumps, for tests. They exist only in the layer built with
// MISTLOCK_FILE_SEAMS (the library mistlock_files_seams, which the test and
// fuzz programs link); the plug-in, the command line and everything else that
// ships link the plain mistlock_files, where every hook site compiles to
// nothing. Both platform layers (portable and win32) honour them.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform::seams {

// Called by fileExists() with the path and its answer just before it returns,
// so that a test can make the file vanish between the existence test and the
// read that follows it.
using ExistsObserver = void (*)(const std::u16string& path, bool exists);
void setAfterFileExists(ExistsObserver observer);

// Makes a later writeFileReplacing() fail as a full disk would: the first
// `callsBefore` calls succeed, then one call writes at most `bytes` bytes of
// the new content and fails. Once only.
void failWrite(int callsBefore, std::size_t bytes);

// Every call the file layer makes to the operating system about a file (an
// existence test, an open or create, a read, a write, a flush, a close, a
// replace or rename, a delete, an attribute or security call) counts as one
// operation. Arming makes the nth operation from now fail (n = 1: the next),
// and the `count - 1` after it as well, the way the system itself would fail
// that call: the layer's own error handling runs. Counting restarts at arming.
void failFileOperation(int n, int count = 1);
// The operations counted since the last arming (or clear()): a run that saw
// fewer than n never reached the failure.
std::size_t fileOperationsSeen();

// The next `count` requests to the system's random generator after the
// first `after` fail, as the system would fail them: randomBytes() raises its
// error. Counting restarts here.
void failRandomSource(int count = 1, int after = 0);
// The requests to the system's random generator since the last arming (or
// clear()).
std::size_t randomRequestsSeen();

// The next requests to the random generator are served from these bytes, in
// order, for as long as they last, then by the system again: a fixed nonce,
// so that a sealed envelope comes out as the one another implementation made.
void replayRandomBytes(std::string_view bytes);

// How platform::reachableIn32Bits() answers until the next clear().
enum class CodeAddresses {
    AsLoaded,     // as the process is laid out: the layer's own behaviour
    ThroughJump,  // a jump in low memory even where the address would do
    Unavailable,  // none at all, as when no low memory can be had
};
void setCodeAddresses(CodeAddresses mode);

// Every seam back to doing nothing.
void clear();

// ---- For the platform layers ----------------------------------------------

void afterFileExists(const std::u16string& path, bool exists);

inline constexpr std::size_t noFailure = static_cast<std::size_t>(-1);
// Asked once by every writeFileReplacing(): noFailure, or the number of bytes
// this call may write before it must fail.
std::size_t writeBudget();

// Counts one operation; true when it is to fail.
bool fileOperationFails();

// True when this request to the random generator is to fail.
bool randomSourceFails();

// What setCodeAddresses asks for, as the two hooks of file_hooks.h.
bool jumpEvenWhereTheAddressFits();
bool lowMemoryFails();

// True when replayed bytes fill this request, written to `out`.
bool randomBytesReplayed(void* out, std::size_t size);

// Only the seam build holds this text; the shipped-binary tests look for it.
extern const char buildMark[];

}  // namespace platform::seams
