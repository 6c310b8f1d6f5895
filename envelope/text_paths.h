#pragma once
// The vector widths the text steps run on, each one table of functions, and
// which one runs: chosen on first use, the widest that the processor and the
// operating system run, as the AES unit chooses its path
// (crypto/aes_dispatch.h). Every path gives the same bytes and the same
// verdicts; they differ in how many lanes a round takes.
//
// Internal to the text steps (text_steps.cpp, byte_tables.cpp, and the
// sealed envelope's base64url.cpp and utf8_forms.cpp) and their tests.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "envelope/byte_tables.h"

// The wide paths are x86-64 code compiled for their own targets.
#if defined(__GNUC__) && defined(__x86_64__)
#define ENVELOPE_HAVE_AVX2 1
#else
#define ENVELOPE_HAVE_AVX2 0
#endif

namespace envelope::detail {

// Narrowest first.
enum class Vectors {
    Sse2,        // hex digits 16 at a time, UTF-8 forms by the tables one by one
    Avx2,        // both 32 lanes at a time
    Avx512Vbmi,  // UTF-8 forms 64 lanes at a time (AVX-512 BW, VBMI, VBMI2); hex as on AVX2
};

struct TextPath {
    Vectors kind;
    const char* name;  // "sse2", "avx2" or "avx512-vbmi2"
    // Pairs of hex digits (either case) to bytes, from the first pair on,
    // while every digit is one: the pairs done. The caller takes the rest.
    std::size_t (*bytesOfDigits)(const unsigned char* digits, unsigned char* out, std::size_t pairs);
    // narrowUtf8ByTable for tables whose pages are not empty.
    bool (*narrowForms)(std::string_view in, const ByteTables& tables, std::string& out);
};

// The path the text steps follow.
const TextPath& textPath();

// The path of that width where the processor and the operating system run
// it; null anywhere else.
const TextPath* textPathOf(Vectors kind);

// Every path that runs here, narrowest first.
std::vector<const TextPath*> availableTextPaths();

// The text steps follow `path` from now on; null: the widest that runs here,
// as at the start. For the tests that hold the paths side by side; never
// while a step runs.
void forceTextPath(const TextPath* path);

// ---- What the paths are made of -------------------------------------------------

// Sixteen digits at a time on SSE2 (none where there is no SSE2), as
// bytesOfDigits.
std::size_t bytesOfDigitsSse2(const unsigned char* digits, unsigned char* out, std::size_t pairs);

// narrowUtf8ByTable one form at a time, in four runs side by side
// (byte_tables.cpp).
bool narrowInRuns(std::string_view in, const ByteTables& tables, std::string& out);

// After a vector decoder's rounds, which stopped at p having written up to o
// and found `bad`: the forms left, one at a time, and the verdict, with out
// cut to what was written (byte_tables.cpp).
bool finishForms(const unsigned char* p, const unsigned char* end, unsigned char* o, const ByteTables& tables,
                 std::uint64_t bad, std::string& out);

// The wide paths (text_vectors.cpp), null where they cannot run.
const TextPath* avx2Path();
const TextPath* avx512Path();

}  // namespace envelope::detail
