// Files of the headless layer, over POSIX.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/portable/headless.h"
#include "platform/test_seams.h"
#include "platform/utf8.h"

namespace platform {

namespace {

std::string describe(const char* action, const std::string& path, int error) {
    return std::string("Cannot ") + action + " the file \"" + path + "\": " + std::strerror(error);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string headless::nativePath(const std::u16string& path) {
    std::string out = utf8::encode(path);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

bool fileExists(const std::u16string& path) {
    struct stat st {};
    const bool exists = ::stat(headless::nativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    seams::afterFileExists(path, exists);
    return exists;
}

std::string readFile(const std::u16string& path) {
    const std::string name = headless::nativePath(path);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFileError(describe("open", name, errno));
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw EFileError(describe("read", name, error));
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const std::string name = headless::nativePath(path);
    std::string temp = folderOf(name) + "/.mistlock-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw EFileError(describe("write", name, errno));
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw EFileError(describe("write", name, error));
    };
    // A new file gets the permissions an ordinary create would give it; an
    // existing one keeps its own.
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(name.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) fail(EISDIR);
        mode = st.st_mode & 07777;
        // A file the user made read-only is not silently replaced.
        if (::access(name.c_str(), W_OK) != 0) fail(errno);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // A test may make this write stop part-way, as a full disk would.
    const std::size_t budget = seams::writeBudget();
    const std::size_t allowed = budget < bytes.size() ? budget : bytes.size();
    std::size_t done = 0;
    while (done < allowed) {
        const ssize_t n = ::write(fd, bytes.data() + done, allowed - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (budget != seams::noFailure) fail(ENOSPC);
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw EFileError(describe("write", name, error));
    }
    if (::rename(temp.c_str(), name.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw EFileError(describe("write", name, error));
    }
}

}  // namespace platform

namespace platform {

void writeFileNew(const std::u16string& path, std::string_view bytes) {
    const std::string name = headless::nativePath(path);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw EFileError(describe("create", name, errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            throw EFileError(describe("write", name, error));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(name.c_str());
        throw EFileError(describe("write", name, error));
    }
}

}  // namespace platform
