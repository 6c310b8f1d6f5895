#include "host/button_address.h"

#include <cstring>
#include <mutex>

#include "host/plugin.h"
#include "platform/platform.h"

namespace host {

namespace {

seams::ButtonAddress addressMode = seams::ButtonAddress::AsLoaded;

// The jumps made so far, by target. A plug-in has one button procedure; the
// room for a few more serves the tests.
struct Jump {
    ButtonProcedure target = nullptr;
    const void* code = nullptr;
};
Jump jumps[8];
std::mutex jumpsLock;

// movabs rax, target; jmp rax. RAX is free for scratch at a call under both
// the Windows x64 and the System V conventions, and the jump leaves the stack
// as the host's call made it, so the procedure returns straight to the host.
const void* makeJump(ButtonProcedure target) {
#if defined(__x86_64__) || defined(_M_X64)
    unsigned char code[16] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0, 0xCC, 0xCC, 0xCC, 0xCC};
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(target));
    for (int i = 0; i < 8; ++i) code[2 + i] = static_cast<unsigned char>(address >> (8 * i));
    const void* placed = platform::placeCodeInLowMemory(code, sizeof code);
    // The host must reach it through a positive 32-bit number.
    if (placed && reinterpret_cast<std::uintptr_t>(placed) + sizeof code > 0x80000000u) return nullptr;
    return placed;
#else
    (void)target;
    return nullptr;
#endif
}

const void* jumpTo(ButtonProcedure target) {
    const std::lock_guard<std::mutex> lock(jumpsLock);
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

const void* hostCallableAddress(ButtonProcedure procedure) {
    const void* address = reinterpret_cast<const void*>(procedure);
    if (survivesThe32BitTrip(reinterpret_cast<std::uintptr_t>(address))) return address;
    return jumpTo(procedure);
}

const void* buttonProcedureAddress() {
    switch (addressMode) {
        case seams::ButtonAddress::ThroughJump: return jumpTo(&toolbarButtonProc);
        case seams::ButtonAddress::Unavailable: return nullptr;
        case seams::ButtonAddress::AsLoaded: break;
    }
    return hostCallableAddress(&toolbarButtonProc);
}

std::u16string noButtonMessage(bool encryptionOn) {
    return std::u16string(u"The toolbar button cannot be added: the plug-in was loaded at an address the "
                          u"messenger cannot call.\r\nEncryption follows the saved switch, which is ") +
           (encryptionOn ? u"on." : u"off.");
}

void seams::setButtonAddress(ButtonAddress mode) { addressMode = mode; }

}  // namespace host
