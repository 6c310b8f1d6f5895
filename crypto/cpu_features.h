#pragma once
// What the processor can run beyond plain x86-64, read once from CPUID and,
// for the wide registers, from XGETBV: an instruction set is only usable when
// the operating system saves its registers on a context switch, which the
// processor reports in XCR0 (and announces through CPUID's OSXSAVE bit).
//
// Every answer is false on processors that are not x86, so callers need no
// guards of their own to ask. The AES unit, its GCM mode and the envelope's text
// steps pick their vector paths from these answers; the build itself targets plain
// x86-64, so the program runs anywhere and uses what it finds.
namespace cpu {

struct Features {
    bool sse41 = false;
    bool aesni = false;
    bool clmul = false;   // PCLMULQDQ: carry-less multiplication on XMM registers
    bool avx2 = false;    // AVX2, with the YMM state saved by the OS
    bool vaes256 = false; // VAES on YMM registers (with AVX2 and its OS state)
    bool vaes512 = false; // VAES on ZMM registers (AVX-512F, ZMM state saved)
    bool avx512vbmi2 = false; // AVX-512 F, BW, VBMI and VBMI2, ZMM state saved: byte permutes and compression
    bool vclmul256 = false;   // VPCLMULQDQ on YMM registers, beside VAES on YMM
    bool vclmul512 = false;   // VPCLMULQDQ and byte shuffles (AVX-512BW) on ZMM registers, beside VAES on ZMM
};

// Computed on first use, then constant for the life of the process.
const Features& features();

}  // namespace cpu
