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
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;     // SSE and AVX state
    const bool zmmSaved = (xcr0 & 0xe6) == 0xe6;   // and the opmask, upper ZMM0-15, ZMM16-31 state
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return f;
    const bool avx2 = (ebx & bit_AVX2) != 0;
    const bool avx512f = (ebx & bit_AVX512F) != 0;
    const bool vaes = (ecx & bit_VAES) != 0;
    const bool vpclmulqdq = (ecx & bit_VPCLMULQDQ) != 0;
    const bool avx512bw = (ebx & (1u << 30)) != 0;
    f.avx2 = avx2 && ymmSaved;
    f.vaes256 = f.aesni && vaes && f.avx2;
    f.vaes512 = f.vaes256 && avx512f && zmmSaved;
    f.vclmul256 = f.vaes256 && f.clmul && vpclmulqdq;
    f.vclmul512 = f.vaes512 && f.vclmul256 && avx512bw;
    // Leaf 7: EBX bit 30 AVX512BW; ECX bit 1 VBMI, bit 6 VBMI2.
    f.avx512vbmi2 = f.avx2 && avx512f && zmmSaved && avx512bw && (ecx & (1u << 1)) != 0 && (ecx & (1u << 6)) != 0;
#endif
    return f;
}

}  // namespace

const Features& features() {
    static const Features detected = detect();
    return detected;
}

}  // namespace cpu
