#pragma once
// Where one line of text ends and the next begins, for every text the plug-in
// reads line by line: the settings file, the UIN list file and the dialog's
// UIN list. Notepad, other editors and the user's typing leave any of the
// three breaks, so all three count.
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The text split at CR LF, lone CR and lone LF. A last line without a break
// counts; a break at the very end starts no further line, so the empty text
// has no lines. Every other character, NUL included, belongs to its line:
// a caller that must stop at a NUL cuts the text there first.
std::vector<std::u16string> splitLines(std::u16string_view text);

}  // namespace platform
