// The password prompt on a real terminal: mistlock runs on a pseudo-terminal
// with no key option, the test types the password after the prompt shows,
// and reads back everything the terminal displayed.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/envelope/envelope_reference.h"

namespace {

struct Session {
    int master = -1;
    pid_t child = -1;
    std::string shown;  // what the terminal displayed

    explicit Session(const std::vector<std::string>& args) {
        child = forkpty(&master, nullptr, nullptr, nullptr);
        if (child == 0) {
            std::vector<char*> argv;
            std::string program = MISTLOCK_CLI_EXE;
            argv.push_back(program.data());
            std::vector<std::string> copies(args);
            for (auto& a : copies) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Session() {
        if (master >= 0) close(master);
    }

    // Reads what the terminal shows until it holds `text` or the program ends.
    bool waitFor(const std::string& text, int seconds = 20) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (shown.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) return false;  // the program has ended
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    void type(const std::string& text) { ASSERT_EQ(write(master, text.data(), text.size()), ssize_t(text.size())); }

    int exitStatus() {
        waitFor("\x01never\x01", 5);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(Prompt, AsksOnTheTerminalWithoutEchoingThePassword) {
    // "s3cret" is 6 UTF-16 units: its key block is their first 6 bytes.
    const std::string envelope = envelope_test::envelopeFor("Hello", envelope_test::keyOf("730033006300"), 1251);
    Session s({"open", envelope});
    ASSERT_GT(s.child, 0);
    ASSERT_TRUE(s.waitFor("Password: ")) << s.shown;
    s.type("s3cret\n");
    ASSERT_TRUE(s.waitFor("Hello")) << s.shown;
    EXPECT_EQ(s.exitStatus(), 0) << s.shown;
    EXPECT_EQ(s.shown.find("s3cret"), std::string::npos) << s.shown;
    // Echo is back on for whatever runs next on the terminal.
    termios after{};
    ASSERT_EQ(tcgetattr(s.master, &after), 0);
    EXPECT_TRUE(after.c_lflag & ECHO);
}

TEST(Prompt, AWrongTypedPasswordIsReportedLikeAnyOther) {
    const std::string envelope = envelope_test::envelopeFor("Hello", envelope_test::keyOf("730033006300"), 1251);
    Session s({"open", envelope});
    ASSERT_TRUE(s.waitFor("Password: ")) << s.shown;
    s.type("secret\n");
    ASSERT_TRUE(s.waitFor("does not open with this key")) << s.shown;
    EXPECT_EQ(s.exitStatus(), 1);
}

TEST(Prompt, EndOfInputAtThePromptIsNoPassword) {
    Session s({"seal", "x"});
    ASSERT_TRUE(s.waitFor("Password: ")) << s.shown;
    s.type("\x04");  // Ctrl+D on an empty line
    ASSERT_TRUE(s.waitFor("closed before a password was typed")) << s.shown;
    EXPECT_EQ(s.exitStatus(), 1);
}

}  // namespace
