#pragma once
// What the fuzz targets share: reading values off the front of an input, a
// check that stops the run with a message (libFuzzer and the replay runner
// both report an abort as a finding), a scratch folder per process, and a
// counter of the message boxes the code under test shows.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/records.h"

namespace fuzzing {

// Takes bytes from the front of a fuzzer input; past its end every value is 0
// and every string empty, so any input is usable.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte();
    std::int32_t int32();
    // Up to n bytes (fewer at the end of the input).
    std::string bytes(std::size_t n);
    // A string whose length is the next byte.
    std::string shortString() { return bytes(byte()); }
    // Everything not taken yet.
    std::string rest();
    std::size_t remaining() const { return size_ - at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Reports a broken property and aborts.
[[noreturn]] void fail(const std::string& what, std::string_view detail = {});
#define FUZZ_CHECK(condition, detail) \
    do { \
        if (!(condition)) ::fuzzing::fail("check failed: " #condition, (detail)); \
    } while (false)

// A folder of its own under the system's temporary folder, made at first use
// and removed when the process exits normally.
class Scratch {
public:
    // The folder itself (no trailing separator).
    static const std::string& root();
    // A subfolder, created empty (any earlier content removed).
    static std::string freshFolder(const std::string& name);
    static void write(const std::string& path, std::string_view bytes);
    static std::string read(const std::string& path);
    static bool exists(const std::string& path);
    // The names of the entries of a folder, sorted.
    static std::vector<std::string> list(const std::string& folder);
};

// Counts the message boxes shown through the headless layer from now on.
struct Boxes {
    int messages = 0;
    int errors = 0;
    std::u16string lastText;
    // Run once, while the next box is open: the host calling in again from
    // the box's message loop.
    std::function<void()> whileOpen;
    int reentries = 0;  // how often whileOpen has run
    void clear() { *this = Boxes(); }
};
Boxes& watchBoxes();

// Records and hex digits as the tests build them (tests/support/records.h).
using testing_records::counted;
using testing_records::event;
using testing_records::hex;
using testing_records::int32;
using testing_records::readInt32;

}  // namespace fuzzing
