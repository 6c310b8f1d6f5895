#include "crypto/wipe.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>
#endif

namespace ElAES {

void wipe(void* memory, std::size_t size) noexcept {
    if (size == 0) return;
#if defined(_WIN32)
    SecureZeroMemory(memory, size);
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 25))
    explicit_bzero(memory, size);
#else
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(memory);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
#if defined(__GNUC__)
    // The zeros count as read: stores before this point cannot be dropped.
    __asm__ __volatile__("" : : "r"(memory) : "memory");
#endif
}

}  // namespace ElAES
