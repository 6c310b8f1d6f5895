#pragma once
// Bytes written once, then read back once: how open-log reads a history from
// standard input twice (once for its encoding, once to open it) while holding
// no more of it than a line. They wait in a temporary file that the system
// deletes once it is closed, or in memory where no such file can be made.
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/cli/console.h"

namespace cli {

class Spool : public ByteSource {
public:
    Spool();
    ~Spool() override;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Raises Exception when the temporary file cannot take them.
    void write(std::string_view bytes);
    // Reading starts at the first byte written; nothing is written after.
    void rewind();
    std::size_t read(char* buffer, std::size_t size) override;

private:
    std::FILE* file_;  // null: held_ holds them
    std::string held_;
    std::size_t at_ = 0;
};

}  // namespace cli
