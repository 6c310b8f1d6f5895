// The choice between the AES instructions and the portable tables, made once
// from CPUID, and the block operations and key schedules of ElAES.h, which
// follow it. The stream routines follow it in aes_stream.cpp.
#include "crypto/aes_internal.h"

#if ELAES_HAVE_AESNI
#include <cpuid.h>
#endif

namespace ElAES {

namespace detail {

std::atomic<int> selectedImplementation{-1};

namespace {

std::atomic<bool> portableForced{false};

bool processorHasAesNi() {
#if ELAES_HAVE_AESNI
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    // The AES instructions, and SSE4.1, which the compiler may use beside them.
    return (ecx & bit_AES) != 0 && (ecx & bit_SSE4_1) != 0;
#else
    return false;
#endif
}

}  // namespace

int selectImplementation() {
    const int choice = (!portableForced.load(std::memory_order_relaxed) && processorHasAesNi()) ? 1 : 0;
    selectedImplementation.store(choice, std::memory_order_relaxed);
    return choice;
}

}  // namespace detail

const char* implementationName(Implementation implementation) {
    return implementation == Implementation::AesNi ? "aes-ni" : "portable";
}

bool hardwareSupported() { return detail::processorHasAesNi(); }

Implementation activeImplementation() {
    return detail::useAesNi() ? Implementation::AesNi : Implementation::Portable;
}

void forcePortable(bool force) {
    detail::portableForced.store(force, std::memory_order_relaxed);
    detail::selectImplementation();
}

void buildEncryptionSchedule(const Key& key, Schedule& schedule) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::buildEncryptionSchedule(key, schedule);
#endif
    portable::buildEncryptionSchedule(key, schedule);
}

void buildDecryptionSchedule(const Key& key, Schedule& schedule) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::buildDecryptionSchedule(key, schedule);
#endif
    portable::buildDecryptionSchedule(key, schedule);
}

void encryptBlock(const Block& input, const Schedule& schedule, Block& output) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::encryptBlock(input, schedule, output);
#endif
    portable::encryptBlock(input, schedule, output);
}

void decryptBlock(const Block& input, const Schedule& schedule, Block& output) {
#if ELAES_HAVE_AESNI
    if (detail::useAesNi()) return aesni::decryptBlock(input, schedule, output);
#endif
    portable::decryptBlock(input, schedule, output);
}

}  // namespace ElAES
