#pragma once
// The characters that widening gives for byte values a code page leaves
// unassigned. Windows' best-fit tables, and the headless tables made from
// them, map such a byte to the C1 control of the same number (0x80 to 0x9F)
// or to a private-use character; no assigned byte of an ANSI or OEM code
// page stands for either.

namespace platform {

inline bool isUnassignedStandIn(char16_t unit) {
    return (unit >= 0x80 && unit <= 0x9F) || (unit >= 0xE000 && unit <= 0xF8FF);
}

}  // namespace platform
