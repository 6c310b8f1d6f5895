// The system's random generator on Windows: BCryptGenRandom with the
// system-preferred generator, from Windows' own bcrypt.dll.
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <string>

#include "platform/file_hooks.h"
#include "platform/platform.h"

namespace platform {

void randomBytes(void* out, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        // BCryptGenRandom counts in 32 bits.
        const ULONG piece = static_cast<ULONG>(size < (1u << 30) ? size : (1u << 30));
        constexpr NTSTATUS unsuccessful = static_cast<NTSTATUS>(0xC0000001L);  // STATUS_UNSUCCESSFUL
        const NTSTATUS status = hooks::randomSourceFails()                 ? unsuccessful
                                : hooks::randomBytesReplayed(bytes, piece) ? 0
                                    : BCryptGenRandom(nullptr, bytes, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
            throw Exception(std::string("Windows' random number generator failed (BCryptGenRandom: status ") + code +
                            "), so nothing can be sealed now. Try again; if it keeps failing, Windows' "
                            "cryptography service (bcrypt.dll) needs attention.");
        }
        bytes += piece;
        size -= piece;
    }
}

}  // namespace platform
