// Saves of the headless layer that never lose the old content: through a
// temporary file renamed over the old one, or, for a file with other names or
// where no file can be made beside it, rewritten in place while a copy of the
// old bytes is kept.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/portable/file_steps.h"
#include "platform/portable/headless.h"

namespace platform {

namespace posix {

namespace {

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

}  // namespace posix

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const std::string name = headless::nativePath(path);
    const std::size_t budget = hooks::writeBudget();
    const posix::Existing old = posix::inspect(name);
    // Other names of the file must see the new content: a rename would part
    // this name from them.
    if (old.exists && old.st.st_nlink > 1) return posix::rewriteInPlace(name, old.target, bytes, budget);
    if (posix::replaceThroughTemporary(name, old, bytes, budget)) return;
    if (old.exists) return posix::rewriteInPlace(name, old.target, bytes, budget);
    posix::createNew("write", name, bytes, budget);
}

}  // namespace platform
