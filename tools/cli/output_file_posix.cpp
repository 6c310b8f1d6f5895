// -o on POSIX: the new file is made beside the target (links followed) with
// mkostemp, then renamed over it; a file that must be new is moved in with
// renameat2(RENAME_NOREPLACE), or link() where the file system lacks it, so
// that a file made meanwhile by someone else is never replaced. A device or
// a pipe named by -o (/dev/null, a FIFO) is written directly.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exception.h"
#include "tools/cli/output_file.h"

namespace cli {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The new file's name while it exists, so that Ctrl+C, a hang-up or kill
// does not leave it behind.
const char* volatile pendingFile = nullptr;
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[3];
bool handlersSet = false;

void removePendingAndEnd(int signal) {
    if (const char* name = pendingFile) ::unlink(name);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void watchSignals(const std::string& temp) {
    pendingFile = temp.c_str();
    struct sigaction action {};
    action.sa_handler = removePendingAndEnd;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        ::sigaction(endingSignals[i], nullptr, &previousActions[i]);
        // A signal the caller ignores (nohup) stays ignored.
        if (previousActions[i].sa_handler != SIG_IGN) ::sigaction(endingSignals[i], &action, nullptr);
    }
    handlersSet = true;
}

void unwatchSignals() {
    if (!handlersSet) return;
    for (int i = 0; i < 3; ++i) ::sigaction(endingSignals[i], &previousActions[i], nullptr);
    handlersSet = false;
    pendingFile = nullptr;
}

mode_t modeOfNewFiles() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

struct OutputFile::Parts {
    std::string path;    // as given
    std::string target;  // links followed
    std::string temp;    // the new file, once made
    int fd = -1;
    bool mustBeNew = false;
    bool direct = false;  // a device or a pipe: written as it is
    bool committed = false;

    [[noreturn]] void fail(const char* action, int error) const {
        throw EFileError(std::string("Cannot ") + action + " the file \"" + path + "\": " + std::strerror(error));
    }

    void create() {
        if (direct) {
            fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) fail("write to", errno);
            return;
        }
        std::string name = folderOf(target) + "/.mistlock-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) fail("create", errno);
        temp = std::move(name);
        watchSignals(temp);
    }

    void discard() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (!temp.empty() && !committed) ::unlink(temp.c_str());
        unwatchSignals();
    }

    // The new file's permissions: a new key file stays its owner's only; a
    // file replaced keeps its own.
    void setMode() {
        if (mustBeNew) return;
        struct stat st {};
        const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : modeOfNewFiles();
        if (::fchmod(fd, mode) != 0) fail("write to", errno);
    }

    void moveIntoPlace() {
        if (!mustBeNew) {
            if (::rename(temp.c_str(), target.c_str()) != 0) fail("write to", errno);
            return;
        }
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
        int error = errno;
        if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
            // A second name, then the temporary one goes: link() never replaces.
            if (::link(temp.c_str(), target.c_str()) == 0) {
                ::unlink(temp.c_str());
                return;
            }
            error = errno;
        }
        if (error == EEXIST) throw EFileError("The file \"" + path + "\" exists already: it is not overwritten.");
        fail("create", error);
    }
};

std::optional<FileId> fileIdOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileId> standardInputId() {
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

OutputFile::OutputFile(const std::string& path, bool mustBeNew)
    : parts_(std::make_unique<Parts>()), description_("the file \"" + path + "\"") {
    Parts& p = *parts_;
    p.path = path;
    p.target = path;
    p.mustBeNew = mustBeNew;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) p.fail("create", errno);
        // Nothing there yet: its folder must be.
        if (::stat(folderOf(path).c_str(), &st) != 0) p.fail("create", errno);
        if (!S_ISDIR(st.st_mode)) p.fail("create", ENOTDIR);
        return;
    }
    if (mustBeNew) throw EFileError("The file \"" + path + "\" exists already: it is not overwritten.");
    if (S_ISLNK(st.st_mode)) {
        // A link stays a link: the file it leads to is replaced.
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) {
            if (errno == ENOENT) {
                throw EFileError("Cannot write to the file \"" + path + "\": it is a link to a file that does not exist.");
            }
            p.fail("write to", errno);
        }
        p.target = resolved;
        std::free(resolved);
        if (::stat(p.target.c_str(), &st) != 0) p.fail("write to", errno);
    }
    if (S_ISDIR(st.st_mode)) throw EFileError("The file \"" + path + "\" is a folder: give a file name to write to.");
    p.direct = !S_ISREG(st.st_mode);
}

OutputFile::~OutputFile() { parts_->discard(); }

void OutputFile::write(std::string_view bytes) {
    Parts& p = *parts_;
    if (p.fd < 0) p.create();
    while (!bytes.empty()) {
        const ssize_t n = ::write(p.fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            p.fail("write to", errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void OutputFile::commit() {
    Parts& p = *parts_;
    try {
        if (p.fd < 0) p.create();
        if (!p.direct) {
            p.setMode();
            if (::fsync(p.fd) != 0) p.fail("write to", errno);
        }
        const int fd = p.fd;
        p.fd = -1;
        if (::close(fd) != 0) p.fail("write to", errno);
        if (!p.direct) p.moveIntoPlace();
    } catch (...) {
        p.discard();
        throw;
    }
    p.committed = true;
    unwatchSignals();
}

}  // namespace cli
