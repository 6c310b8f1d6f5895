// Reading the start of a file, natively and under Wine: as many bytes as
// asked for, fewer only when the file is shorter, and nothing beyond them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/test_seams.h"
#include "tests/support/test_messenger.h"

namespace fs = std::filesystem;

namespace {

// Bytes that differ from their neighbours, so that a slice read from the
// wrong place shows.
std::string pattern(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251 + 1);
    return bytes;
}

TEST(ReadFileStart, AsManyBytesAsAskedOrTheWholeShorterFile) {
    constexpr std::size_t kWritten = 300000;  // the rest of a larger file is a hole of zeros
    struct Case {
        const char* what;
        std::uintmax_t size;
        std::size_t limit;
        std::size_t expected;
        // The open, each read of at most 64 KiB (and the one that finds the
        // end of a shorter file), the close.
        std::size_t operations;
    } const cases[] = {
        {"empty file", 0, 4096, 0, 3},
        {"shorter than the limit", 5, 4096, 5, 4},
        {"exactly the limit", 4096, 4096, 4096, 3},
        {"one byte more", 4097, 4096, 4096, 3},
        {"a limit of nothing", 10, 0, 0, 2},
        {"more than one read of the layer's buffer", kWritten, 200000, 200000, 6},
        {"the whole of a file of several reads", kWritten, 1 << 20, kWritten, 8},
        {"4 KiB of 1 GiB, nearly all of it a hole", std::uintmax_t{1} << 30, 4096, 4096, 3},
    };
    test_messenger::TempFolder folder;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "file" + std::to_string(n++);
        const std::size_t written = c.size < kWritten ? static_cast<std::size_t>(c.size) : kWritten;
        folder.write(name, pattern(written));
        fs::resize_file(folder.file(name), c.size);
        platform::seams::clear();
        const std::string start = platform::readFileStart(fs::path(folder.file(name)).u16string(), c.limit);
        EXPECT_EQ(platform::seams::fileOperationsSeen(), c.operations) << "read further than asked";
        ASSERT_EQ(start.size(), c.expected);
        EXPECT_TRUE(start == pattern(c.expected)) << "the bytes are not the file's first ones";
    }
}

TEST(ReadFileStart, AFileThatCannotBeOpenedIsNamed) {
    test_messenger::TempFolder folder;
    const std::string missing = folder.file("absent.key");
    try {
        platform::readFileStart(fs::path(missing).u16string(), 4096);
        ADD_FAILURE() << "read a file that does not exist";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("absent.key"), std::string::npos) << e.what();
    }
}

}  // namespace
