// Executable memory below 2 GB, for code the host reaches through a 32-bit
// address. Windows has no "anywhere below 2 GB" request that every version
// honours, so the free regions are walked from the bottom up and the first
// one that fits is taken at an address of our choosing.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/low_memory.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

constexpr std::uintptr_t lowLimit = 0x80000000u;

std::uintptr_t roundUp(std::uintptr_t value, std::uintptr_t step) { return (value + step - 1) / step * step; }

void* allocateBelow2GB(std::size_t size) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const std::uintptr_t granularity = system.dwAllocationGranularity ? system.dwAllocationGranularity : 0x10000;
    std::uintptr_t address =
        roundUp(std::max(reinterpret_cast<std::uintptr_t>(system.lpMinimumApplicationAddress), granularity),
                granularity);
    while (address < lowLimit && lowLimit - address >= size) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region) == 0) return nullptr;
        const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (region.State != MEM_FREE || regionEnd - address < size) {
            // Allocations start on the granularity: the next candidate is the
            // first boundary past this region.
            address = std::max(roundUp(regionEnd, granularity), address + granularity);
            continue;
        }
        void* memory = VirtualAlloc(reinterpret_cast<void*>(address), size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (memory && reinterpret_cast<std::uintptr_t>(memory) + size <= lowLimit) return memory;
        if (memory) VirtualFree(memory, 0, MEM_RELEASE);
        // Refused, or taken by another thread since the query: the next slot.
        address += granularity;
    }
    return nullptr;
}

}  // namespace

void* placeCodeInLowMemory(const void* code, std::size_t size) {
    if (size == 0) return nullptr;
    void* memory = allocateBelow2GB(size);
    if (!memory) return nullptr;
    std::memcpy(memory, code, size);
    DWORD previous = 0;
    if (!VirtualProtect(memory, size, PAGE_EXECUTE_READ, &previous)) {
        VirtualFree(memory, 0, MEM_RELEASE);
        return nullptr;
    }
    FlushInstructionCache(GetCurrentProcess(), memory, size);
    return memory;
}

}  // namespace platform
