// The console on Linux and other POSIX systems: bytes pass unchanged, and the
// password is read from the controlling terminal with its echo turned off.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/exception.h"
#include "tools/cli/console.h"

namespace cli {

namespace {

std::string describe(const std::string& what, int error) { return what + ": " + std::strerror(error); }

class FileSource : public ByteSource {
public:
    FileSource(int fd, std::string name, bool owned) : fd_(fd), name_(std::move(name)), owned_(owned) {}
    ~FileSource() override {
        if (owned_) ::close(fd_);
    }
    std::size_t read(char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, size);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) throw EFileError(describe("Cannot read " + name_, errno));
        }
    }
    std::uint64_t sizeHint() override {
        struct stat status;
        if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        return at >= 0 && at < status.st_size ? static_cast<std::uint64_t>(status.st_size - at) : 0;
    }

private:
    int fd_;
    std::string name_;
    bool owned_;
};

void writeAll(int fd, std::string_view bytes, const char* name) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Exception(describe(std::string("Cannot write to ") + name, errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// The terminal's settings while echo is off, restored on the way out and
// when a signal ends the program mid-prompt.
int ttyFd = -1;
struct termios savedTty;
volatile sig_atomic_t echoOff = 0;

void restoreEcho() {
    if (echoOff) {
        ::tcsetattr(ttyFd, TCSAFLUSH, &savedTty);
        echoOff = 0;
    }
}

void onSignal(int signal) {
    restoreEcho();
    [[maybe_unused]] const ssize_t ignored = ::write(ttyFd, "\n", 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class PosixConsole : public Console {
public:
    PosixConsole() : stdin_(STDIN_FILENO, "standard input", false) {}

    ByteSource& input() override { return stdin_; }

    std::unique_ptr<ByteSource> openFile(const std::string& path, const std::string& what) override {
        return openReadableFile(path, what);
    }

    void writeOutput(std::string_view bytes) override {
        if (out_) {
            out_->write(bytes);
        } else {
            writeAll(STDOUT_FILENO, bytes, "standard output");
        }
    }

    bool inputIsTerminal() override { return ::isatty(STDIN_FILENO) == 1; }
    bool outputIsTerminal() override { return !out_ && ::isatty(STDOUT_FILENO) == 1; }

    void sendOutputTo(const std::string& path, bool mustBeNew) override {
        out_ = std::make_unique<OutputFile>(path, mustBeNew);
    }
    void commitOutput() override {
        if (out_) out_->commit();
    }
    std::optional<FileId> inputId() override { return standardInputId(); }
    unsigned systemCodePage() override { return 1251; }

    void writeError(std::string_view text) override { writeAll(STDERR_FILENO, text, "standard error"); }

    std::optional<std::string> askPassword(const std::string& prompt) override {
        ttyFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (ttyFd < 0) return std::nullopt;
        std::optional<std::string> line;
        bool asked = false;
        if (::tcgetattr(ttyFd, &savedTty) == 0) {
            struct termios quiet = savedTty;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ECHONL;
            struct sigaction action {}, oldInt {}, oldTerm {}, oldHup {};
            action.sa_handler = onSignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGINT, &action, &oldInt);
            ::sigaction(SIGTERM, &action, &oldTerm);
            ::sigaction(SIGHUP, &action, &oldHup);
            // Echo goes off before the prompt shows: nothing typed after it is seen.
            if (::tcsetattr(ttyFd, TCSAFLUSH, &quiet) == 0) {
                echoOff = 1;
                asked = true;
                [[maybe_unused]] const ssize_t shown = ::write(ttyFd, prompt.data(), prompt.size());
                line = readLine();
                restoreEcho();
            }
            ::sigaction(SIGINT, &oldInt, nullptr);
            ::sigaction(SIGTERM, &oldTerm, nullptr);
            ::sigaction(SIGHUP, &oldHup, nullptr);
        }
        ::close(ttyFd);
        ttyFd = -1;
        if (asked && !line) throw Exception("The terminal closed before a password was typed.");
        return line;
    }

private:
    // A line up to its LF; nothing when the terminal ends before one.
    static std::optional<std::string> readLine() {
        std::string line;
        // Room enough that the typed password never moves to a larger buffer,
        // leaving the old one behind unwiped; later moves take the buffer along.
        line.reserve(1024);
        char c;
        for (;;) {
            const ssize_t n = ::read(ttyFd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            if (c == '\n') break;
            line += c;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

    FileSource stdin_;
    std::unique_ptr<OutputFile> out_;
};

}  // namespace

std::unique_ptr<ByteSource> openReadableFile(const std::string& path, const std::string& what) {
    const std::string named = what + " \"" + path + "\"";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) throw EFileError("The " + named + " does not exist.");
        throw EFileError(describe("Cannot open the " + named, errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw EFileError("The " + named + " is not a file but a folder.");
    }
    return std::make_unique<FileSource>(fd, "the " + named, true);
}

std::unique_ptr<Console> systemConsole() {
    // A reader that has gone away ends the program quietly, as for other filters.
    std::signal(SIGPIPE, SIG_DFL);
    return std::make_unique<PosixConsole>();
}

void systemRandomBytes(unsigned char* out, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::getrandom(out, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Exception(describe("The system's random generator failed", errno));
        }
        out += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace cli
