// Files of the headless layer, over POSIX: whole-file reads, existence and
// new files, and the steps (file_steps.h) that saves over a file
// (file_saving.cpp) share.
//
// Every system call about a file goes through the wrappers of file_calls.h,
// so that the test build of this layer can make any one of them fail the way
// the system would; in the shipped build they are the bare calls.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/file_steps.h"
#include "platform/portable/headless.h"
#include "platform/utf8.h"

namespace platform {

namespace posix {

namespace {

std::string describeCause(const char* action, const std::string& path, const std::string& cause) {
    return std::string("Cannot ") + action + " the file \"" + path + "\": " + cause;
}

}  // namespace

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

void discard(const std::string& path) {
    // A second try gets past a failure of the moment.
    if (sys::unlink(path) != 0 && errno != ENOENT) sys::unlink(path);
}

std::string readAll(const Fd& file, const std::string& shownName, std::size_t limit) {
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

void writeAll(const Fd& file, std::string_view bytes, std::size_t budget, const std::string& shownName) {
    if (!writeFromStart(file, bytes.substr(0, budget))) fail("write", shownName, errno);
    if (budget != hooks::noFailure) fail("write", shownName, ENOSPC);
}

void syncAndClose(Fd& file, const std::string& shownName) {
    if (sys::fsync(file.get()) != 0) fail("write", shownName, errno);
    if (!file.close()) fail("write", shownName, errno);
}

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

}  // namespace posix

using posix::createNew;
using posix::fail;
using posix::failWith;
using posix::Fd;
using posix::readAll;
namespace sys = posix::sys;

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

}  // namespace platform
