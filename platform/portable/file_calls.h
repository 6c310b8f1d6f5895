#pragma once
// The POSIX file calls of the headless file layer, each counted so that the
// test build of the layer can make any one of them fail the way the system
// would; in the shipped build they are the bare calls. Nothing outside
// platform/portable's file layer includes this.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_hooks.h"

namespace platform::posix {

namespace sys {

// True, with errno set, when the test build wants this call to fail.
inline bool injected(int error) {
    if (!hooks::operationFails()) return false;
    errno = error;
    return true;
}

inline int stat(const std::string& path, struct stat& st) {
    return injected(EACCES) ? -1 : ::stat(path.c_str(), &st);
}
inline int lstat(const std::string& path, struct stat& st) {
    return injected(EACCES) ? -1 : ::lstat(path.c_str(), &st);
}
inline int fstat(int fd, struct stat& st) { return injected(EIO) ? -1 : ::fstat(fd, &st); }
inline int access(const std::string& path, int mode) {
    return injected(EACCES) ? -1 : ::access(path.c_str(), mode);
}

inline int open(const std::string& path, int flags, mode_t mode = 0) {
    return injected(EACCES) ? -1 : ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

// mkstemp with a suffix after the six X: a new file, mode 0600.
inline int makeUnique(std::string& pattern, int suffixLength) {
    return injected(EACCES) ? -1 : ::mkostemps(pattern.data(), suffixLength, O_CLOEXEC);
}

inline ssize_t read(int fd, char* buffer, std::size_t size) { return injected(EIO) ? -1 : ::read(fd, buffer, size); }
inline ssize_t pwrite(int fd, const char* data, std::size_t size, off_t offset) {
    return injected(ENOSPC) ? -1 : ::pwrite(fd, data, size, offset);
}
inline int ftruncate(int fd, off_t size) { return injected(EIO) ? -1 : ::ftruncate(fd, size); }
inline int fsync(int fd) { return injected(EIO) ? -1 : ::fsync(fd); }
inline int fchmod(int fd, mode_t mode) { return injected(EPERM) ? -1 : ::fchmod(fd, mode); }
inline int fchown(int fd, uid_t owner, gid_t group) { return injected(EPERM) ? -1 : ::fchown(fd, owner, group); }
inline int rename(const std::string& from, const std::string& to) {
    return injected(EACCES) ? -1 : ::rename(from.c_str(), to.c_str());
}
inline int unlink(const std::string& path) { return injected(EACCES) ? -1 : ::unlink(path.c_str()); }

// The descriptor is released even when the close reports a failure.
inline int close(int fd) {
    const int result = ::close(fd);
    return injected(EIO) ? -1 : result;
}

inline std::optional<std::string> realPath(const std::string& path) {
    if (injected(EACCES)) return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

}  // namespace sys

// An open file descriptor, closed when it goes out of scope.
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

}  // namespace platform::posix
