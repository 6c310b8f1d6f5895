// mistlock and the files it is given: -o puts its file in place only once
// everything is written, and never over an input; a key or password comes
// from a pipe as well as from a file, read once and no further than needed;
// keygen's file appears whole or not at all. The program runs as a process
// (under Wine too) and in-process over the real file layer. Expected
// envelopes are worked out from their parts (tests/envelope/envelope_reference.h).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/exception.h"
#include "tests/cli/cli_process.h"
#include "tests/cli/fake_console.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/support/test_messenger.h"
#include "tools/cli/cli.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using envelope_test::envelopeFor;
using envelope_test::keyOf;
using test_messenger::TempFolder;
using testing_cli::programPath;

// Every file of the folder and its bytes.
std::map<std::string, std::string> contentOf(const TempFolder& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(fs::path(folder.file("x")).parent_path())) {
        files[entry.path().filename().string()] = folder.read(entry.path().filename().string());
    }
    return files;
}

std::vector<std::string> substituted(std::vector<std::string> args, const TempFolder& folder) {
    for (auto& a : args) {
        for (const char* name : {"out.txt", "new.txt", "hist.txt", "alias.txt", "pw.txt"}) {
            if (a == std::string("{") + name + "}") a = programPath(folder.file(name));
        }
    }
    return args;
}

const std::string kOld = "what the user had\n";
const std::string kHi = envelopeFor("Hi", keyOf("7000"), 1251);  // under "pw"

struct OutputCase {
    const char* name;
    std::vector<std::string> args;  // {file} stands for the path of a file of the folder
    bool inputIsOutput;             // standard input reads out.txt
    int status;
    const char* changed;            // the one file that may change, or ""
    std::string content;            // its content afterwards
    const char* errorPart;
};

const OutputCase outputCases[] = {
    {"replaced once all is written", {"open-log", "--password", "pw", "-o", "{out.txt}", "{hist.txt}"}, false, 0,
     "out.txt", "12:00 Hi\r\n", "1 envelope opened"},
    {"made new", {"seal", "--password", "pw", "--codepage", "1251", "-o", "{new.txt}", "Hi"}, false, 0, "new.txt",
     kHi + "\n", ""},
    {"a failed run leaves it", {"open", "--password", "wrong", "-o", "{out.txt}", kHi}, false, 1, "", "",
     "does not open with this key"},
    {"the history read", {"open-log", "--password", "pw", "-o", "{hist.txt}", "{hist.txt}"}, false, 2, "", "",
     "is the history read"},
    {"the history through another name", {"open-log", "--password", "pw", "-o", "{alias.txt}", "{hist.txt}"}, false,
     2, "", "", "is the history read"},
    {"the password file", {"seal", "--password-file", "{pw.txt}", "-o", "{pw.txt}", "Hi"}, false, 2, "", "",
     "is the password file"},
    {"standard input", {"seal", "--password", "pw", "-o", "{out.txt}", "-"}, true, 2, "", "", "is standard input"},
};

TEST(Files, OutputTakesItsFilesPlaceOnlyWhenAllIsWrittenAndNeverAnInputs) {
    for (const auto& c : outputCases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        folder.write("out.txt", kOld);
        folder.write("hist.txt", "12:00 " + kHi + "\r\n");
        folder.write("pw.txt", "pw\n");
        fs::create_hard_link(folder.file("hist.txt"), folder.file("alias.txt"));
        auto expected = contentOf(folder);
        if (*c.changed) expected[c.changed] = c.content;

        const auto args = substituted(c.args, folder);
        const auto r = c.inputIsOutput ? testing_cli::runCliReading(args, folder.file("out.txt"))
                                       : testing_cli::runCli(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.errorPart), std::string::npos) << r.err;
        // Every file as it was or as it should be now, and nothing left behind.
        EXPECT_EQ(contentOf(folder), expected);
    }
}

// A random source that fails leaves no file, so that the next run is not
// refused; a file that someone makes meanwhile is never replaced.
TEST(Files, AKeyFileAppearsWholeOrNotAtAll) {
    TempFolder folder;
    testing_cli::FakeConsole failing;
    const auto noRandom = [](unsigned char*, std::size_t) { throw Exception("The system's random generator failed."); };
    EXPECT_EQ(cli::run({"keygen", "-o", folder.file("k.key")}, failing, noRandom), 1);
    EXPECT_NE(failing.err.find("random generator failed"), std::string::npos) << failing.err;
    EXPECT_TRUE(contentOf(folder).empty());

    testing_cli::FakeConsole made;
    const auto letterA = [](unsigned char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = i % 2 ? 0x00 : 0x41;
    };
    EXPECT_EQ(cli::run({"keygen", "-o", folder.file("k.key")}, made, letterA), 0) << made.err;
    std::string firstLine = "\xFF\xFE";
    for (int i = 0; i < 32; ++i) firstLine += std::string("A\0", 2);
    EXPECT_EQ(folder.read("k.key").substr(0, 70), firstLine + std::string("\r\0\n\0", 4));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(stat(folder.file("k.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif

    cli::OutputFile late(folder.file("late.key"), true);
    late.write("ours");
    folder.write("late.key", "theirs");
    EXPECT_THROW(late.commit(), EFileError);
    const auto left = contentOf(folder);
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(folder.read("late.key"), "theirs");
}

#ifndef _WIN32
// A replaced file keeps its permissions, and a link to it stays a link.
TEST(Files, AReplacedFileKeepsItsModeAndItsLinks) {
    TempFolder folder;
    folder.write("out.txt", kOld);
    ASSERT_EQ(chmod(folder.file("out.txt").c_str(), 0640), 0);
    ASSERT_EQ(symlink("out.txt", folder.file("link.txt").c_str()), 0);
    testing_cli::FakeConsole console;
    EXPECT_EQ(cli::run({"seal", "--password", "pw", "-o", folder.file("link.txt"), "Hi"}, console), 0) << console.err;
    EXPECT_EQ(folder.read("out.txt"), kHi + "\n");
    EXPECT_TRUE(fs::is_symlink(folder.file("link.txt")));
    struct stat st {};
    ASSERT_EQ(stat(folder.file("out.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Writes bytes into a FIFO once mistlock opens it, without waiting forever
// for a reader that never comes.
std::thread feedFifo(const std::string& path, std::string bytes) {
    return std::thread([path, bytes] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int fd = -1;
        while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (fd < 0) return;
        fcntl(fd, F_SETFL, 0);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    });
}
#endif

// "Ключ-4242" after a UTF-8 mark, as tests/data/envelope/key_utf8_bom.txt holds it.
const std::string kKlyuchUtf8 = "\xEF\xBB\xBF\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87-4242\r\n";

// The same followed by 70001 more bytes, the 65536th of the file the first of
// the two of an "é".
std::string longKlyuchFile() {
    std::string bytes = kKlyuchUtf8 + "x";
    for (int i = 0; i < 35000; ++i) bytes += "\xC3\xA9";
    return bytes;
}

struct SecretCase {
    const char* name;
    const char* option;     // --key-file or --password-file
    std::string fileBytes;  // what the file or pipe gives
    bool fifo;              // a named pipe rather than a file
    const char* keyHex;     // the key block's leading bytes
};

const SecretCase secretCases[] = {
    // 64 KiB are read: a UTF-8 character cut there is not an error, and a
    // first line longer than that gives the same key block.
    {"key file of 70019 bytes", "--key-file", longKlyuchFile(), false, "1A043B044E0447042D"},
    {"first line of 70000 bytes", "--key-file", std::string(70000, 'x'), false,
     "7800780078007800780078007800780078007800780078007800780078007800"},
#ifndef _WIN32
    {"password from a pipe", "--password-file", "pw\n", true, "7000"},
    {"key file from a pipe", "--key-file", kKlyuchUtf8, true, "1A043B044E0447042D"},
#endif
};

TEST(Files, SecretsComeFromPipesAsFromFilesReadOnceAndBoundedly) {
    for (const auto& c : secretCases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string path = folder.file("secret");
        std::thread feeder;
#ifndef _WIN32
        if (c.fifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            feeder = feedFifo(path, c.fileBytes);
        }
#endif
        if (!c.fifo) folder.write("secret", c.fileBytes);
        testing_cli::FakeConsole console;
        const int status = cli::run({"seal", c.option, path, "Hi"}, console);
        if (feeder.joinable()) feeder.join();
        EXPECT_EQ(status, 0) << console.err;
        EXPECT_EQ(console.out, envelopeFor("Hi", keyOf(c.keyHex), 1251) + "\n");
    }
}

#ifndef _WIN32
// Standard input as the password file: with the message on the command line
// it is the password; when the message comes from there too, it is refused.
TEST(Files, StandardInputServesForThePasswordOrTheMessageNotBoth) {
    auto r = testing_cli::runCli({"seal", "--password-file", "/dev/stdin", "Hi"}, "pw\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kHi + "\n");
    r = testing_cli::runCli({"seal", "--password-file", "/dev/stdin"}, "pw\nHi\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("is standard input, which is to hold the message too"), std::string::npos) << r.err;
}
#endif

}  // namespace
