#pragma once
// Fault-injection seams of the file layer, for tests. They do nothing unless a
// test sets them, which the plug-in itself never does; both platform layers
// (portable and win32) honour them.
#include <cstddef>
#include <string>

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

// Both seams back to doing nothing.
void clear();

// ---- For the platform layers ----------------------------------------------

void afterFileExists(const std::u16string& path, bool exists);

inline constexpr std::size_t noFailure = static_cast<std::size_t>(-1);
// Asked once by every writeFileReplacing(): noFailure, or the number of bytes
// this call may write before it must fail.
std::size_t writeBudget();

}  // namespace platform::seams
