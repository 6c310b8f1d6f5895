// Files of the headless layer, over POSIX.
//
// Every system call about a file goes through the wrappers in `sys` below, so
// that the test build of this layer can make any one of them fail the way the
// system would; in the shipped build they are the bare calls.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_hooks.h"
#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "platform/utf8.h"

namespace platform {

namespace {

std::string describeCause(const char* action, const std::string& path, const std::string& cause) {
    return std::string("Cannot ") + action + " the file \"" + path + "\": " + cause;
}

[[noreturn]] void fail(const char* action, const std::string& path, int error) {
    throw EFileError(describeCause(action, path, std::strerror(error)));
}

[[noreturn]] void failWith(const char* action, const std::string& path, const std::string& cause) {
    throw EFileError(describeCause(action, path, cause));
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- The counted system calls ----------------------------------------------

namespace sys {

// True, with errno set, when the test build wants this call to fail.
bool injected(int error) {
    if (!hooks::operationFails()) return false;
    errno = error;
    return true;
}

int stat(const std::string& path, struct stat& st) { return injected(EACCES) ? -1 : ::stat(path.c_str(), &st); }
int lstat(const std::string& path, struct stat& st) { return injected(EACCES) ? -1 : ::lstat(path.c_str(), &st); }
int fstat(int fd, struct stat& st) { return injected(EIO) ? -1 : ::fstat(fd, &st); }
int access(const std::string& path, int mode) { return injected(EACCES) ? -1 : ::access(path.c_str(), mode); }

int open(const std::string& path, int flags, mode_t mode = 0) {
    return injected(EACCES) ? -1 : ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

// mkstemp with a suffix after the six X: a new file, mode 0600.
int makeUnique(std::string& pattern, int suffixLength) {
    return injected(EACCES) ? -1 : ::mkostemps(pattern.data(), suffixLength, O_CLOEXEC);
}

ssize_t read(int fd, char* buffer, std::size_t size) { return injected(EIO) ? -1 : ::read(fd, buffer, size); }
ssize_t pwrite(int fd, const char* data, std::size_t size, off_t offset) {
    return injected(ENOSPC) ? -1 : ::pwrite(fd, data, size, offset);
}
int ftruncate(int fd, off_t size) { return injected(EIO) ? -1 : ::ftruncate(fd, size); }
int fsync(int fd) { return injected(EIO) ? -1 : ::fsync(fd); }
int fchmod(int fd, mode_t mode) { return injected(EPERM) ? -1 : ::fchmod(fd, mode); }
int fchown(int fd, uid_t owner, gid_t group) { return injected(EPERM) ? -1 : ::fchown(fd, owner, group); }
int rename(const std::string& from, const std::string& to) {
    return injected(EACCES) ? -1 : ::rename(from.c_str(), to.c_str());
}
int unlink(const std::string& path) { return injected(EACCES) ? -1 : ::unlink(path.c_str()); }

// The descriptor is released even when the close reports a failure.
int close(int fd) {
    const int result = ::close(fd);
    return injected(EIO) ? -1 : result;
}

std::optional<std::string> realPath(const std::string& path) {
    if (injected(EACCES)) return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

}  // namespace sys

// Removes a file of our own (a temporary file, a copy); a second try gets past
// a failure of the moment.
void discard(const std::string& path) {
    if (sys::unlink(path) != 0 && errno != ENOENT) sys::unlink(path);
}

// An open file descriptor, closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    // False, with errno set, when closing fails.
    bool close() {
        if (fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        return sys::close(fd) == 0;
    }

private:
    int fd_;
};

// The file's bytes up to `limit`, from where the descriptor stands.
std::string readAll(const Fd& file, const std::string& shownName, std::size_t limit = SIZE_MAX) {
    std::string content;
    char buffer[65536];
    while (content.size() < limit) {
        const std::size_t wanted = std::min(sizeof buffer, limit - content.size());
        const ssize_t n = sys::read(file.get(), buffer, wanted);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("read", shownName, errno);
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

// Writes the bytes from the start of the file; false, with errno set, when the
// system refuses.
bool writeFromStart(const Fd& file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = sys::pwrite(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The same for the new content, which a test may make stop after `budget`
// bytes, as a full disk would.
void writeAll(const Fd& file, std::string_view bytes, std::size_t budget, const std::string& shownName) {
    if (!writeFromStart(file, bytes.substr(0, budget))) fail("write", shownName, errno);
    if (budget != hooks::noFailure) fail("write", shownName, ENOSPC);
}

void syncAndClose(Fd& file, const std::string& shownName) {
    if (sys::fsync(file.get()) != 0) fail("write", shownName, errno);
    if (!file.close()) fail("write", shownName, errno);
}

// Creates `name`, which must not exist yet, with the bytes on disk; a file
// begun here is removed again when anything fails.
void createNew(const char* action, const std::string& name, std::string_view bytes, std::size_t budget) {
    Fd file(sys::open(name, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!file.valid()) fail(action, name, errno);
    try {
        writeAll(file, bytes, budget, name);
        syncAndClose(file, name);
    } catch (...) {
        file.close();
        discard(name);
        throw;
    }
}

// ---- Saving over a file --------------------------------------------------------

struct Existing {
    bool exists = false;
    std::string target;  // the file whose content is replaced: symbolic links followed
    struct stat st {};
};

Existing inspect(const std::string& name) {
    Existing file;
    file.target = name;
    struct stat st {};
    if (sys::lstat(name, st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return file;  // nothing there yet
        fail("write", name, errno);
    }
    if (S_ISLNK(st.st_mode)) {
        // A link the user made stays a link: the file it leads to is written.
        const auto target = sys::realPath(name);
        if (!target) {
            if (errno == ENOENT) failWith("write", name, "it is a link to a file that does not exist");
            fail("write", name, errno);
        }
        file.target = *target;
        if (sys::stat(file.target, st) != 0) fail("write", name, errno);
    }
    if (S_ISDIR(st.st_mode)) fail("write", name, EISDIR);
    if (!S_ISREG(st.st_mode)) failWith("write", name, "it is not a regular file");
    // A file the user made read-only is not silently replaced.
    if (sys::access(file.target, W_OK) != 0) fail("write", name, errno);
    file.exists = true;
    file.st = st;
    return file;
}

mode_t modeOfNewFiles() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The new file takes over the old one's permissions, and its owner and group
// as far as this process may give them away.
void takeOverModeAndOwner(const Fd& file, const struct stat& old, const std::string& shownName) {
    struct stat now {};
    if (sys::fstat(file.get(), now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
        if (sys::fchown(file.get(), old.st_uid, old.st_gid) != 0) {
            sys::fchown(file.get(), static_cast<uid_t>(-1), old.st_gid);
        }
    }
    if (sys::fchmod(file.get(), old.st_mode & 07777) != 0) fail("write", shownName, errno);
}

// The bytes go to a new file beside the target, which then takes its place in
// one rename. False when no such file can be made here (no right to create
// files in the folder, a read-only file system...): then nothing was changed.
bool replaceThroughTemporary(const std::string& name, const Existing& old, std::string_view bytes,
                             std::size_t budget) {
    std::string temp = folderOf(old.target) + "/.mistlock-XXXXXX";
    Fd file(sys::makeUnique(temp, 0));
    if (!file.valid()) return false;
    try {
        writeAll(file, bytes, budget, name);
        if (old.exists) {
            takeOverModeAndOwner(file, old.st, name);
        } else if (sys::fchmod(file.get(), modeOfNewFiles()) != 0) {
            fail("write", name, errno);
        }
        syncAndClose(file, name);
        if (sys::rename(temp, old.target) != 0) fail("write", name, errno);
    } catch (...) {
        file.close();
        discard(temp);
        throw;
    }
    return true;
}

// Keeps the old bytes in a private file of the temporary folder while the file
// is rewritten in place; its path, or an error when no copy can be made (then
// the file is not touched: its bytes could be lost).
std::string keepCopy(const std::string& name, std::string_view old) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
    std::string copy = folder + "/" + baseNameOf(name) + "-XXXXXX.old";
    Fd file(sys::makeUnique(copy, 4));
    const bool created = file.valid();
    const bool kept = created && writeFromStart(file, old) && sys::fsync(file.get()) == 0 && file.close();
    if (!kept) {
        const int error = errno;
        file.close();
        if (created) discard(copy);
        failWith("write", name,
                 "no copy of its present content could be made in \"" + folder + "\": " + std::strerror(error));
    }
    return copy;
}

// Writes the old bytes back over a failed rewrite. False when that fails too.
bool putBack(Fd& file, const std::string& target, std::string_view old) {
    if (!file.valid()) file.reset(sys::open(target, O_WRONLY));
    return file.valid() && writeFromStart(file, old) &&
           sys::ftruncate(file.get(), static_cast<off_t>(old.size())) == 0 && sys::fsync(file.get()) == 0 &&
           file.close();
}

// Rewrites the file itself, for a file that has other names (hard links) that
// must see the new content, or when no temporary file can be made beside it.
void rewriteInPlace(const std::string& name, const std::string& target, std::string_view bytes, std::size_t budget) {
    Fd file(sys::open(target, O_RDWR));
    if (!file.valid()) fail("write", name, errno);
    const std::string old = readAll(file, name);
    const std::string copy = keepCopy(name, old);
    try {
        writeAll(file, bytes, budget, name);
        if (sys::ftruncate(file.get(), static_cast<off_t>(bytes.size())) != 0) fail("write", name, errno);
        syncAndClose(file, name);
    } catch (const EFileError& failure) {
        if (!putBack(file, target, old)) {
            throw EFileError(std::string(failure.what()) +
                             ". Putting its previous content back failed too; that content is kept in \"" + copy +
                             "\".");
        }
        discard(copy);
        throw;
    }
    discard(copy);
}

}  // namespace

std::string headless::nativePath(const std::u16string& path) {
    std::string out = utf8::encode(path);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

PathKind pathKind(const std::u16string& path) {
    const std::string name = headless::nativePath(path);
    struct stat st {};
    if (sys::stat(name, st) == 0) return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
    if (errno == ELOOP) return PathKind::Other;  // links that lead round in a circle
    // Out of reach is not the same as absent: the caller must not go on as if
    // there were no file (and later save over it).
    if (errno != ENOENT && errno != ENOTDIR) fail("reach", name, errno);
    // A link whose file has gone (a drive not mounted) still stands there.
    if (sys::lstat(name, st) == 0) return PathKind::Other;
    if (errno != ENOENT && errno != ENOTDIR) fail("reach", name, errno);
    return PathKind::Nothing;
}

bool fileExists(const std::u16string& path) {
    const bool exists = pathKind(path) == PathKind::File;
    hooks::afterFileExists(path, exists);
    return exists;
}

std::string readFile(const std::u16string& path) {
    const std::string name = headless::nativePath(path);
    // Not blocking: a pipe put in the file's place since it was looked at
    // must be refused, not waited on.
    Fd file(sys::open(name, O_RDONLY | O_NONBLOCK));
    if (!file.valid()) fail("open", name, errno);
    struct stat st {};
    if (sys::fstat(file.get(), st) != 0) fail("read", name, errno);
    if (!S_ISREG(st.st_mode)) failWith("read", name, "it is not a regular file");
    return readAll(file, name);
}

std::string readFileStart(const std::u16string& path, std::size_t limit) {
    const std::string name = headless::nativePath(path);
    Fd file(sys::open(name, O_RDONLY));
    if (!file.valid()) fail("open", name, errno);
    return readAll(file, name, limit);
}

void writeFileNew(const std::u16string& path, std::string_view bytes) {
    createNew("create", headless::nativePath(path), bytes, hooks::noFailure);
}

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const std::string name = headless::nativePath(path);
    const std::size_t budget = hooks::writeBudget();
    const Existing old = inspect(name);
    // Other names of the file must see the new content: a rename would part
    // this name from them.
    if (old.exists && old.st.st_nlink > 1) return rewriteInPlace(name, old.target, bytes, budget);
    if (replaceThroughTemporary(name, old, bytes, budget)) return;
    if (old.exists) return rewriteInPlace(name, old.target, bytes, budget);
    createNew("write", name, bytes, budget);
}

}  // namespace platform
