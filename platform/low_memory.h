#pragma once
// Executable memory below 2 GB, for the jumps of code_jumps.cpp; each layer
// has its own (win32/low_memory.cpp, portable/low_memory.cpp).
#include <cstddef>

namespace platform {

// Copies `size` bytes of machine code into fresh memory below 2 GB, where a
// sign-extended 32-bit address reaches it, and makes that memory executable
// and read-only. Returns the copy, or null when no such memory can be had.
// The memory is never released.
void* placeCodeInLowMemory(const void* code, std::size_t size);

}  // namespace platform
