#pragma once
// Runs the mistlock program of this build as its own process, with standard
// input from given bytes, and collects its exit status and both outputs.
#include <string>
#include <vector>

namespace testing_cli {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// args are UTF-8; under Windows they reach the program as UTF-16.
Result runCli(const std::vector<std::string>& args, const std::string& input = "");

// The same with standard input reading the file at a (UTF-8) path.
Result runCliReading(const std::vector<std::string>& args, const std::string& inputFile);

// A path as the mistlock program should be given it: under Wine a Linux
// path from the build is reached through the Z: drive.
std::string programPath(const std::string& path);

}  // namespace testing_cli
