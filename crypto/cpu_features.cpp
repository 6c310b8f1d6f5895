#include "crypto/cpu_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define CPU_FEATURES_X86 1
#else
#define CPU_FEATURES_X86 0
#endif

namespace cpu {

namespace {

#if CPU_FEATURES_X86
// The register-state components of XCR0 that the vector paths need saved:
// XMM (SSE), the upper halves of YMM (AVX), and for AVX-512 the opmask
// registers, the upper halves of ZMM0-15 and ZMM16-31 whole.
constexpr unsigned long long xcr0Sse = 1ull << 1;
constexpr unsigned long long xcr0Avx = 1ull << 2;
constexpr unsigned long long xcr0Opmask = 1ull << 5;
constexpr unsigned long long xcr0ZmmUpperHalves = 1ull << 6;
constexpr unsigned long long xcr0HighZmm = 1ull << 7;
constexpr unsigned long long ymmState = xcr0Sse | xcr0Avx;
constexpr unsigned long long zmmState = ymmState | xcr0Opmask | xcr0ZmmUpperHalves | xcr0HighZmm;

// XCR0, the register-state components the OS saves. XGETBV written out as
// bytes, so that this file needs no target attribute of its own; only ever
// executed when CPUID reports OSXSAVE, without which it would fault.
unsigned long long extendedControlRegister0() {
    unsigned eax = 0, edx = 0;
    __asm__ __volatile__(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<unsigned long long>(edx) << 32) | eax;
}
#endif

Features detect() {
    Features f;
#if CPU_FEATURES_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return f;
    f.sse41 = (ecx & bit_SSE4_1) != 0;
    f.aesni = (ecx & bit_AES) != 0 && f.sse41;
    f.clmul = (ecx & bit_PCLMUL) != 0 && f.sse41;
    const bool avx = (ecx & bit_AVX) != 0;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    if (!avx || !osxsave) return f;

    const unsigned long long xcr0 = extendedControlRegister0();
    const bool ymmSaved = (xcr0 & ymmState) == ymmState;
    const bool zmmSaved = (xcr0 & zmmState) == zmmState;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return f;
    const bool avx2 = (ebx & bit_AVX2) != 0;
    const bool avx512f = (ebx & bit_AVX512F) != 0;
    const bool vaes = (ecx & bit_VAES) != 0;
    const bool vpclmulqdq = (ecx & bit_VPCLMULQDQ) != 0;
    const bool avx512bw = (ebx & bit_AVX512BW) != 0;
    f.avx2 = avx2 && ymmSaved;
    f.vaes256 = f.aesni && vaes && f.avx2;
    f.vaes512 = f.vaes256 && avx512f && zmmSaved;
    f.vclmul256 = f.vaes256 && f.clmul && vpclmulqdq;
    f.vclmul512 = f.vaes512 && f.vclmul256 && avx512bw;
    const bool vbmi = (ecx & bit_AVX512VBMI) != 0 && (ecx & bit_AVX512VBMI2) != 0;
    f.avx512vbmi2 = f.avx2 && avx512f && zmmSaved && avx512bw && vbmi;
#endif
    return f;
}

}  // namespace

const Features& features() {
    static const Features detected = detect();
    return detected;
}

}  // namespace cpu
