#pragma once
// The key block for the command line: from a password, a password file, a key
// file, or a password asked for on the terminal.
#include <functional>
#include <optional>
#include <string>

#include "crypto/ElAES.h"
#include "crypto/wipe.h"
#include "tools/cli/command_line.h"

namespace cli {

// Asks for the password without echo; nullopt when there is no terminal.
using PasswordPrompt = std::function<std::optional<std::string>(const std::string& prompt)>;

// The key block the invocation names. A password is UTF-8, taken as the
// UTF-16 text the user would type into the plug-in's dialog. Raises
// UsageError for a key that cannot be asked for or is not UTF-8, and
// Exception (naming the file) for a file that is missing or cannot be read.
ElAES::SecretKey keyFor(const Invocation& invocation, const PasswordPrompt& ask);

// The key text of a key file, by the plug-in's rules: the first line, after a
// UTF-8 or UTF-16 byte-order mark; without one in the peers' code page.
std::u16string keyFileText(const std::u16string& path, unsigned codePage);

// The password a password file holds: its first line, after a byte-order
// mark; without one it must be UTF-8.
std::u16string passwordFileText(const std::u16string& path);

}  // namespace cli
