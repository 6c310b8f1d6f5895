#pragma once
// The key block for the command line: from a password, a password file, a key
// file, or a password asked for on the terminal.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"
#include "envelope/key_block.h"
#include "tools/cli/command_line.h"
#include "tools/cli/console.h"

namespace cli {

// How much of a key or password file is read: its first line is all that
// counts, and of that at most 32 bytes make the key block.
inline constexpr std::size_t secretFileLimit = 64 * 1024;

// What the user should hear about the key the invocation gave.
struct KeyNotes {
    std::size_t units = 0;  // UTF-16 code units of the key text: its key block has min(units, 32) bytes
    // A key file without byte-order mark, read in the code page, whose bytes
    // are also valid UTF-8 beyond ASCII: an editor may have meant UTF-8.
    bool utf8WithoutMark = false;
    // A sealed key file: its whole first line makes the key.
    bool sealed = false;
};

// The keys the invocation names: the key block, and for a sealed key file
// (envelope/key_block.h) its sealed key too. A password is UTF-8, taken as the
// UTF-16 text the user would type into the plug-in's dialog; asked for on the
// console's terminal, it is asked twice when `confirm` (sealing), and the two
// must be the same. A key or password file is read once through the console,
// at most secretFileLimit bytes of it, so that a pipe serves as well as a
// file. Raises UsageError for a key that cannot be asked for or is not UTF-8,
// and Exception (naming the file) for a file that is missing or cannot be
// read, or passwords that differ.
envelope::MessageKeys keysFor(const Invocation& invocation, Console& console, KeyNotes* notes = nullptr,
                              bool confirm = false);

// The warnings and hints for standard error that the notes call for, when
// sealing (`sealing`) or otherwise; empty when there are none.
std::string keyWarnings(const KeyNotes& notes, unsigned codePage, bool sealing);

// The key text of a key file from its leading bytes, by the plug-in's rules:
// the first line, after a UTF-8 or UTF-16 byte-order mark; without one in the
// peers' code page. `name` is the file's, for messages.
std::u16string keyFileText(std::string_view leadingBytes, unsigned codePage, const std::string& name,
                           bool* utf8WithoutMark = nullptr);

// A new key text: 32 UTF-16 units, each drawn uniformly (by rejection) from
// the 63485 that are not surrogates and not NUL, LF or CR. The key block is
// the first 16 units' two bytes each: 16 x log2(63485) = 255.27 bits. The
// three line ends cannot be in a first line, and leaving out the 2048
// surrogates keeps the file valid UTF-16 that editors and copies leave alone.
std::u16string newKeyText(const std::function<void(unsigned char*, std::size_t)>& random);

// The key file of a key text: UTF-16LE with its byte-order mark, so that it
// reads the same on every code page; the key on the first line, a note on
// the second, and for a sealed key file the line that makes it one.
std::string keyFileBytes(std::u16string_view keyText, bool sealed = false);

// The password of a password file's leading bytes: its first line, after a
// byte-order mark; without one it must be UTF-8.
std::u16string passwordFileText(std::string_view leadingBytes, const std::string& name);

}  // namespace cli
