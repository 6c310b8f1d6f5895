// Executable memory below 2 GB on Linux: MAP_32BIT asks the kernel for the
// first 2 GB of the address space (x86-64 only; elsewhere there is none).
#include <sys/mman.h>

#include <cstdint>
#include <cstring>

#include "platform/low_memory.h"

namespace platform {

void* placeCodeInLowMemory(const void* code, std::size_t size) {
#if defined(MAP_32BIT)
    if (size == 0) return nullptr;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    if (reinterpret_cast<std::uintptr_t>(memory) + size > 0x80000000u) {
        munmap(memory, size);
        return nullptr;
    }
    std::memcpy(memory, code, size);
    // Never writable and executable at once.
    if (mprotect(memory, size, PROT_READ | PROT_EXEC) != 0) {
        munmap(memory, size);
        return nullptr;
    }
    __builtin___clear_cache(static_cast<char*>(memory), static_cast<char*>(memory) + size);
    return memory;
#else
    (void)code;
    (void)size;
    return nullptr;
#endif
}

}  // namespace platform
