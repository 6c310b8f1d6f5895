#pragma once
// mistlock, the companion command line: seals and opens envelopes outside
// the messenger, with the plug-in's own envelope and key-block code.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/cli/console.h"

namespace cli {

// OpenedUnverified: an earlier plug-in's message of 16, 32, 48... bytes
// opened, but its envelope has no zero fill by which a wrong key would show.
enum ExitStatus { Success = 0, Failure = 1, WrongUsage = 2, OpenedUnverified = 3 };

// Fills a buffer with random bytes, or raises Exception.
using RandomSource = std::function<void(unsigned char*, std::size_t)>;

// Runs one command: the arguments after the program's name, in UTF-8; keygen
// draws from `random`.
int run(const std::vector<std::string>& args, Console& console, const RandomSource& random = systemRandomBytes);

}  // namespace cli
