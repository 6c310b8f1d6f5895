// Code addresses for callers that carry them in 32 bits: the address itself
// when it fits, else a jump placed in low memory. Built with the file layer,
// once plain and once with the tests' seams (file_hooks.h).
#include <cstdint>

#include "platform/file_hooks.h"
#include "platform/low_memory.h"
#include "platform/platform.h"

namespace platform {

namespace {

// The jumps made so far, by target. A plug-in has one button procedure; the
// room for a few more serves the tests. The plug-in runs on the messenger's
// one thread, so nothing guards the table.
struct Jump {
    Procedure32 target = nullptr;
    const void* code = nullptr;
};
Jump jumps[8];

// movabs rax, target; jmp rax. RAX is free for scratch at a call under both
// the Windows x64 and the System V conventions, and the jump leaves the stack
// as the caller's call made it, so the procedure returns straight to it.
const void* makeJump(Procedure32 target) {
#if defined(__x86_64__) || defined(_M_X64)
    unsigned char code[16] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0, 0xCC, 0xCC, 0xCC, 0xCC};
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(target));
    for (int i = 0; i < 8; ++i) code[2 + i] = static_cast<unsigned char>(address >> (8 * i));
    const void* placed = placeCodeInLowMemory(code, sizeof code);
    // The caller must reach it through a positive 32-bit number.
    if (placed && reinterpret_cast<std::uintptr_t>(placed) + sizeof code > 0x80000000u) return nullptr;
    return placed;
#else
    (void)target;
    return nullptr;
#endif
}

const void* jumpTo(Procedure32 target) {
    if (hooks::lowMemoryFails()) return nullptr;
    for (Jump& jump : jumps) {
        if (jump.target == target) return jump.code;
        if (jump.target == nullptr) {
            const void* code = makeJump(target);
            // A failure is not remembered: memory may be free on a later try.
            if (code) jump = {target, code};
            return code;
        }
    }
    return nullptr;
}

}  // namespace

bool survivesThe32BitTrip(std::uintptr_t address) {
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(address & 0xFFFFFFFFu));
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(low)) == address;
}

const void* reachableIn32Bits(Procedure32 procedure) {
    const void* address = reinterpret_cast<const void*>(procedure);
    if (survivesThe32BitTrip(reinterpret_cast<std::uintptr_t>(address)) && !hooks::jumpEvenWhereTheAddressFits()) {
        return address;
    }
    return jumpTo(procedure);
}

}  // namespace platform
