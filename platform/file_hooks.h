#pragma once
// The hook sites of the file layer, the random source and the code jumps.
// Built with MISTLOCK_FILE_SEAMS (the test and fuzz programs' copy of the
// layer) they reach the seams of test_seams.h; in what ships each one is a
// constant, and the compiler drops the site.
#include <cstddef>
#include <string>

#if defined(MISTLOCK_FILE_SEAMS)
#include "platform/test_seams.h"
#endif

namespace platform::hooks {

inline constexpr std::size_t noFailure = static_cast<std::size_t>(-1);

// Counts one operating-system file operation; true when a test wants it to fail.
inline bool operationFails() {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::fileOperationFails();
#else
    return false;
#endif
}

inline void afterFileExists([[maybe_unused]] const std::u16string& path, [[maybe_unused]] bool exists) {
#if defined(MISTLOCK_FILE_SEAMS)
    seams::afterFileExists(path, exists);
#endif
}

// True when a test wants this request to the system's random generator to fail.
inline bool randomSourceFails() {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::randomSourceFails();
#else
    return false;
#endif
}

// True when a test wants a jump in low memory even for a procedure whose own
// address a 32-bit caller reaches (platform::reachableIn32Bits).
inline bool jumpEvenWhereTheAddressFits() {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::jumpEvenWhereTheAddressFits();
#else
    return false;
#endif
}

// True when a test wants no jump to be had, as when no low memory is free.
inline bool lowMemoryFails() {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::lowMemoryFails();
#else
    return false;
#endif
}

// True, with the bytes at `out`, when a test serves this request to the
// system's random generator with bytes of its own.
inline bool randomBytesReplayed([[maybe_unused]] void* out, [[maybe_unused]] std::size_t size) {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::randomBytesReplayed(out, size);
#else
    return false;
#endif
}

// noFailure, or how many bytes of the new content this save may write.
inline std::size_t writeBudget() {
#if defined(MISTLOCK_FILE_SEAMS)
    return seams::writeBudget();
#else
    return noFailure;
#endif
}

}  // namespace platform::hooks
