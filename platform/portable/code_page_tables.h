#pragma once
// The single-byte code pages of the headless layer: the characters of the
// bytes 0x80 to 0xFF; bytes below 0x80 are ASCII.

namespace platform::headless {

struct CodePageTable {
    unsigned codePage;
    const char16_t* high;  // 128 units
};

inline constexpr int codePageTableCount = 8;
extern const CodePageTable codePageTables[codePageTableCount];

// The high half of a code page, or null when the layer does not have it.
const char16_t* highHalfOf(unsigned codePage);

}  // namespace platform::headless
