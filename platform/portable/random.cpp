// The system's random generator on Linux: getrandom, which blocks only until
// the kernel's generator has been seeded once after boot.
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_hooks.h"
#include "platform/platform.h"

namespace platform {

void randomBytes(void* out, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        // A short count (a signal, or more than the kernel gives at once)
        // asks again for the rest.
        const ssize_t n = hooks::randomSourceFails()                 ? (errno = EIO, -1)
                          : hooks::randomBytesReplayed(bytes, size) ? static_cast<ssize_t>(size)
                                                                    : ::getrandom(bytes, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Exception(std::string("The system's random number generator failed (getrandom: ") +
                            std::strerror(errno) +
                            "), so nothing can be sealed now. Try again; if it keeps failing, the system's random "
                            "source needs attention.");
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace platform
