// Whole-file reads, new files, and saves that never lose the old content,
// over the Win32 file API.
//
// Every call that reaches the file system goes through the counted wrappers
// of file_calls.h, so that the test build of this layer can make any one of
// them fail the way the system would.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/file_calls.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

using win32::fileFailure;
using win32::fromWide;
using win32::wide;

namespace os = win32::os;
using win32::Handle;

// Removes a file of our own (a temporary file, a backup, a copy). A second try
// gets past a scanner or indexer that held it for a moment.
void discard(const std::u16string& path) {
    if (!os::remove(path) && GetLastError() != ERROR_FILE_NOT_FOUND) os::remove(path);
}

[[noreturn]] void fail(const char* action, const std::u16string& path, DWORD error) {
    throw EFileError(fileFailure(action, path, error));
}

[[noreturn]] void failWith(const char* action, const std::u16string& path, const std::u16string& cause) {
    throw EFileError(fileFailure(action, path, cause));
}

bool startsWith(const std::u16string& text, std::u16string_view prefix) { return text.rfind(prefix, 0) == 0; }

// The path in the system's long form, "\\?\C:\..." or "\\?\UNC\server\...",
// to which no MAX_PATH limit applies: a settings folder of 240 characters
// leaves no room for a temporary name otherwise. Device paths stay as they are.
std::u16string longForm(const std::u16string& path) {
    if (startsWith(path, u"\\\\?\\") || startsWith(path, u"\\\\.\\")) return path;
    const DWORD needed = GetFullPathNameW(wide(path), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<wchar_t> full(needed);
    const DWORD length = GetFullPathNameW(wide(path), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    const std::u16string absolute = fromWide(full.data(), length);
    if (startsWith(absolute, u"\\\\?\\") || startsWith(absolute, u"\\\\.\\")) return absolute;
    if (startsWith(absolute, u"\\\\")) return u"\\\\?\\UNC\\" + absolute.substr(2);
    return u"\\\\?\\" + absolute;
}

// What to hand the system for a path given by the user: the path itself while
// it fits MAX_PATH, which keeps the system's own reading of it, else its
// long form.
std::u16string reachable(const std::u16string& path) { return path.size() < MAX_PATH ? path : longForm(path); }

// Answers that say for certain that nothing is at the path, or could be: no
// such file or folder, or a name no file can have.
bool surelyAbsent(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

// The folder part of a path, with its separator; empty for a bare name.
std::u16string folderOf(const std::u16string& path) {
    const auto separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator + 1);
}

// A long-form path as the user would write it, for messages.
std::u16string shownForm(const std::u16string& path) {
    if (startsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
    if (startsWith(path, u"\\\\?\\")) return path.substr(4);
    return path;
}

std::u16string baseNameOf(const std::u16string& path) {
    const auto separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? path : path.substr(separator + 1);
}

// Where the system says nothing is at a path, whether its folder still lists
// the name: Wine shows a link whose file has gone (a drive not mounted) that
// way. A name with wildcards is no file's name, and is not looked for.
bool nameStillListed(const std::u16string& path, const std::u16string& systemPath) {
    if (baseNameOf(path).find_first_of(u"*?<>\"") != std::u16string::npos) return false;
    const DWORD error = os::findName(systemPath);
    if (error == NO_ERROR || error == ERROR_NO_MORE_FILES) return true;
    if (surelyAbsent(error)) return false;
    fail("reach", path, error);
}

// What an open for attributes alone finds there: it follows links, reads
// nothing, and never waits on a pipe.
PathKind kindOfOpened(const std::u16string& path, const std::u16string& systemPath) {
    constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const Handle handle(
        os::open(systemPath, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.valid()) {
        const DWORD error = GetLastError();
        if (surelyAbsent(error)) return PathKind::Other;  // a link to nothing
        fail("reach", path, error);
    }
    const DWORD type = os::type(handle.get());
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) fail("reach", path, GetLastError());
    if (type != FILE_TYPE_DISK) return PathKind::Other;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!os::information(handle.get(), info)) fail("reach", path, GetLastError());
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Other : PathKind::File;
}

// A name that no other save of this or another process is using at the same time.
std::u16string uniqueName(const char* pattern, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, pattern, static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>((counter++ + GetTickCount()) & 0xFFFFu), attempt);
    return std::u16string(name, name + std::char_traits<char>::length(name));
}

// A new file of a unique name in the folder, opened for writing; the handle
// is invalid, with the error in GetLastError, when none can be made.
HANDLE createUnique(const std::u16string& folder, const std::u16string& prefix, const char* pattern,
                    DWORD access, std::u16string& name) {
    HANDLE created = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 64 && created == INVALID_HANDLE_VALUE; ++attempt) {
        name = folder + prefix + uniqueName(pattern, attempt);
        created = os::open(name, access, 0, CREATE_NEW);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return created;
}

// The file's bytes up to `limit`, from where the handle stands.
std::string readAll(const Handle& file, const std::u16string& shownPath, std::size_t limit = SIZE_MAX) {
    std::string content;
    char buffer[65536];
    while (content.size() < limit) {
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit - content.size()));
        DWORD got = 0;
        if (!os::read(file.get(), buffer, wanted, got)) fail("read", shownPath, GetLastError());
        if (got == 0) break;
        content.append(buffer, got);
    }
    return content;
}

// Writes the bytes from the start of the file; false, with the error in
// GetLastError, when the system refuses.
bool writeFromStart(const Handle& file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!os::writeAt(file.get(), bytes.data() + done, chunk, done, written)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

// The same for the new content, which a test may make stop after `budget`
// bytes, as a full disk would.
void writeAll(const Handle& file, std::string_view bytes, std::size_t budget, const std::u16string& shownPath) {
    if (!writeFromStart(file, bytes.substr(0, budget))) fail("write", shownPath, GetLastError());
    if (budget != hooks::noFailure) fail("write", shownPath, ERROR_DISK_FULL);
}

void flushAndClose(Handle& file, const std::u16string& shownPath) {
    if (!os::flush(file.get())) fail("write", shownPath, GetLastError());
    if (!file.close()) fail("write", shownPath, GetLastError());
}

// Creates a file that must not exist yet, with the bytes on disk; a file begun
// here is removed again when anything fails.
void createNew(const char* action, const std::u16string& systemPath, const std::u16string& shownPath,
               std::string_view bytes, std::size_t budget) {
    Handle file(os::open(systemPath, GENERIC_WRITE, 0, CREATE_NEW));
    if (!file.valid()) fail(action, shownPath, GetLastError());
    try {
        writeAll(file, bytes, budget, shownPath);
        flushAndClose(file, shownPath);
    } catch (...) {
        file.close();
        discard(systemPath);
        throw;
    }
}

// ---- Saving over a file --------------------------------------------------------

struct Existing {
    bool exists = false;
    std::u16string target;  // long form, links resolved: the file whose content is replaced
    DWORD attributes = 0;
    DWORD links = 1;
    std::vector<char> accessList;
};

// The file as it is before the save, refused when it must not be replaced.
Existing inspect(const std::u16string& path) {
    Existing file;
    file.target = longForm(path);
    const DWORD attributes = os::attributes(file.target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (!surelyAbsent(error)) fail("write", path, error);
        if (nameStillListed(path, file.target)) failWith("write", path, u"it is a link to a file that does not exist");
        return file;  // nothing there yet
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) failWith("write", path, u"a folder of that name is in the way");

    // Asking for attributes and the access list only: no other program's
    // sharing rules stand against that. The open follows links.
    constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Handle handle(os::open(file.target, FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.valid() && GetLastError() == ERROR_ACCESS_DENIED) {
        handle.reset(os::open(file.target, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    }
    if (!handle.valid()) {
        const DWORD error = GetLastError();
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && surelyAbsent(error)) {
            failWith("write", path, u"it is a link to a file that does not exist");
        }
        fail("write", path, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!os::information(handle.get(), info)) fail("write", path, GetLastError());
    // A link the user made stays a link: the file it leads to is written.
    if (auto final = os::finalPath(handle.get())) {
        file.target = *final;
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        fail("write", path, GetLastError());
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        failWith("write", path, u"a folder of that name is in the way");
    }
    // A file the user made read-only is not silently replaced.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) failWith("write", path, u"the file is read-only");
    file.exists = true;
    file.attributes = info.dwFileAttributes;
    file.links = info.nNumberOfLinks;
    file.accessList = os::accessList(handle.get());
    return file;
}

// Errors of ReplaceFileW from file systems that do not offer it.
bool replaceUnsupported(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER;
}

// The old file's hidden, system and not-indexed marks on the new content.
// ReplaceFileW carries them over on Windows, not everywhere (Wine).
void keepAttributes(const Existing& old) {
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (old.attributes & kept) os::setAttributes(old.target, old.attributes & (kept | FILE_ATTRIBUTE_ARCHIVE));
}

// ReplaceFileW, given a backup name of its own so that the old file never
// goes without a name: without one Wine's ReplaceFileW deletes the old file
// before it moves the new one in, and leaves a file of its own behind when it
// fails. Should the old file be left under the backup name, it is put back.
// False, with the error in GetLastError, when the replace failed.
bool replaceKeepingTheOld(const std::u16string& path, const std::u16string& target, const std::u16string& temp) {
    const std::u16string backup = folderOf(target) + u"~mistlock-" + uniqueName("%08x-%04x-%02x.bak", 0);
    if (os::replace(target, temp, backup)) {
        discard(backup);
        return true;
    }
    const DWORD error = GetLastError();
    const bool oldOnlyAsBackup =
        os::attributes(target) == INVALID_FILE_ATTRIBUTES && os::attributes(backup) != INVALID_FILE_ATTRIBUTES;
    if (!oldOnlyAsBackup) {
        if (os::attributes(backup) != INVALID_FILE_ATTRIBUTES) discard(backup);
    } else if (!os::move(backup, target)) {
        throw EFileError(fileFailure("write", path, error) + ". Its previous content is kept in \"" +
                         utf8::encode(shownForm(backup)) + "\".");
    }
    SetLastError(error);
    return false;
}

// The bytes go to a new file beside the target, which then takes its place in
// one step: ReplaceFileW for an existing file, which carries over its access
// list, owner, attributes and encryption. False when that way cannot be taken
// (no right to create files in the folder, a file system without
// ReplaceFileW): then nothing was changed.
bool replaceThroughTemporary(const std::u16string& path, Existing& old, std::string_view bytes, std::size_t budget) {
    std::u16string temp;
    Handle file(createUnique(folderOf(old.target), u"~mistlock-", "%08x-%04x-%02x.tmp", GENERIC_WRITE | WRITE_DAC,
                             temp));
    if (!file.valid()) return false;
    try {
        writeAll(file, bytes, budget, path);
        // Where ReplaceFileW does not carry the access list over (Wine), the
        // new file has it from the start. Where it does, it overrides this.
        if (!old.accessList.empty()) os::setAccessList(file.get(), old.accessList);
        flushAndClose(file, path);
        if (!old.exists) {
            if (!os::move(temp, old.target)) fail("write", path, GetLastError());
        } else if (!replaceKeepingTheOld(path, old.target, temp)) {
            const DWORD error = GetLastError();
            if (!replaceUnsupported(error)) fail("write", path, error);
            discard(temp);
            return false;
        }
    } catch (...) {
        file.close();
        discard(temp);
        throw;
    }
    if (old.exists) keepAttributes(old);
    return true;
}

// Keeps the old bytes in a file of the user's temporary folder while the file
// is rewritten in place; its path, or an error when no copy can be made (then
// the file is not touched: its bytes could be lost).
std::u16string keepCopy(const std::u16string& path, std::string_view old) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    const std::u16string folder = length > 0 && length <= MAX_PATH ? fromWide(buffer, length) : u".\\";
    std::u16string copy;
    Handle file(createUnique(longForm(folder), baseNameOf(path) + u"-", "%08x-%04x-%02x.old", GENERIC_WRITE, copy));
    const bool created = file.valid();
    const bool kept = created && writeFromStart(file, old) && os::flush(file.get()) && file.close();
    if (!kept) {
        const DWORD error = GetLastError();
        file.close();
        if (created) discard(copy);
        failWith("write", path,
                 u"no copy of its present content could be made in \"" + folder + u"\": " +
                     win32::systemMessage(error));
    }
    return folder + baseNameOf(copy);
}

// Writes the old bytes back over a failed rewrite. False when that fails too.
bool putBack(Handle& file, const std::u16string& target, std::string_view old) {
    if (!file.valid()) file.reset(os::open(target, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
    return file.valid() && writeFromStart(file, old) && os::setEnd(file.get(), old.size()) &&
           os::flush(file.get()) && file.close();
}

// Rewrites the file itself, for a file whose other names (hard links) must
// see the new content, or when no temporary file can be made beside it. Its
// access list, owner, attributes and links stay as they are.
void rewriteInPlace(const std::u16string& path, const Existing& old, std::string_view bytes, std::size_t budget) {
    Handle file(os::open(old.target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.valid()) fail("write", path, GetLastError());
    const std::string previous = readAll(file, path);
    const std::u16string copy = keepCopy(path, previous);
    try {
        writeAll(file, bytes, budget, path);
        if (!os::setEnd(file.get(), bytes.size())) fail("write", path, GetLastError());
        flushAndClose(file, path);
    } catch (const EFileError& failure) {
        if (!putBack(file, old.target, previous)) {
            throw EFileError(std::string(failure.what()) +
                             ". Putting its previous content back failed too; that content is kept in \"" +
                             utf8::encode(copy) + "\".");
        }
        discard(longForm(copy));
        throw;
    }
    discard(longForm(copy));
}

}  // namespace

PathKind pathKind(const std::u16string& path) {
    if (path.empty()) return PathKind::Nothing;
    const std::u16string systemPath = reachable(path);
    const DWORD attributes = os::attributes(systemPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (surelyAbsent(error)) return nameStillListed(path, systemPath) ? PathKind::Other : PathKind::Nothing;
        // Wine's answer for a pipe or a device.
        if (error == ERROR_INVALID_PARAMETER) return kindOfOpened(path, systemPath);
        // Out of reach is not the same as absent: the caller must not go on
        // as if there were no file (and later save over it).
        fail("reach", path, error);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Other;
    // A link counts as what it leads to.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kindOfOpened(path, systemPath);
    return PathKind::File;
}

bool fileExists(const std::u16string& path) {
    const bool exists = pathKind(path) == PathKind::File;
    hooks::afterFileExists(path, exists);
    return exists;
}

std::string readFile(const std::u16string& path) {
    // Shared every way: a backup or synchronisation program that holds the
    // file open, even for writing, does not make it unreadable.
    Handle file(os::open(reachable(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         OPEN_EXISTING));
    if (!file.valid()) fail("open", path, GetLastError());
    // A pipe put in the file's place since it was looked at is refused, not
    // waited on.
    if (os::type(file.get()) != FILE_TYPE_DISK) {
        if (GetLastError() != NO_ERROR) fail("read", path, GetLastError());
        failWith("read", path, u"it is not a regular file");
    }
    return readAll(file, path);
}

std::string readFileStart(const std::u16string& path, std::size_t limit) {
    Handle file(os::open(reachable(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         OPEN_EXISTING));
    if (!file.valid()) fail("open", path, GetLastError());
    return readAll(file, path, limit);
}

void writeFileNew(const std::u16string& path, std::string_view bytes) {
    createNew("create", longForm(path), path, bytes, hooks::noFailure);
}

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const std::size_t budget = hooks::writeBudget();
    Existing old = inspect(path);
    // Other names of the file must see the new content: a replace would part
    // this name from them.
    if (old.exists && old.links > 1) return rewriteInPlace(path, old, bytes, budget);
    if (replaceThroughTemporary(path, old, bytes, budget)) return;
    if (old.exists) return rewriteInPlace(path, old, bytes, budget);
    createNew("write", old.target, path, bytes, budget);
}

}  // namespace platform
