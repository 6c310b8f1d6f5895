// Whole-file reads, existence and new files over the Win32 file API, and the
// steps (file_steps.h) that saves over a file (file_saving.cpp) share.
//
// Every call that reaches the file system goes through the counted wrappers
// of file_calls.h, so that the test build of this layer can make any one of
// them fail the way the system would.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/file_calls.h"
#include "platform/win32/file_steps.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace win32 {

namespace {

bool startsWith(const std::u16string& text, std::u16string_view prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

void discard(const std::u16string& path) {
    // A second try gets past a scanner or indexer that held it for a moment.
    if (!os::remove(path) && GetLastError() != ERROR_FILE_NOT_FOUND) os::remove(path);
}

[[noreturn]] void fail(const char* action, const std::u16string& path, DWORD error) {
    throw EFileError(fileFailure(action, path, error));
}

[[noreturn]] void failWith(const char* action, const std::u16string& path, const std::u16string& cause) {
    throw EFileError(fileFailure(action, path, cause));
}

// A settings folder of 240 characters leaves no room for a temporary name
// without the long form.
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

std::u16string shownForm(const std::u16string& path) {
    if (startsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
    if (startsWith(path, u"\\\\?\\")) return path.substr(4);
    return path;
}

std::u16string folderOf(const std::u16string& path) {
    const auto separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator + 1);
}

std::u16string baseNameOf(const std::u16string& path) {
    const auto separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? path : path.substr(separator + 1);
}

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

// Wine shows a link whose file has gone (a drive not mounted) as nothing at
// its path. A name with wildcards is no file's name, and is not looked for.
bool nameStillListed(const std::u16string& path, const std::u16string& systemPath) {
    if (baseNameOf(path).find_first_of(u"*?<>\"") != std::u16string::npos) return false;
    const DWORD error = os::findName(systemPath);
    if (error == NO_ERROR || error == ERROR_NO_MORE_FILES) return true;
    if (surelyAbsent(error)) return false;
    fail("reach", path, error);
}

std::u16string uniqueName(const char* pattern, unsigned attempt) {
    static unsigned counter = 0;
    char name[64];
    std::snprintf(name, sizeof name, pattern, static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>((counter++ + GetTickCount()) & 0xFFFFu), attempt);
    return std::u16string(name, name + std::char_traits<char>::length(name));
}

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

std::string readAll(const Handle& file, const std::u16string& shownPath, std::size_t limit) {
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

void writeAll(const Handle& file, std::string_view bytes, std::size_t budget, const std::u16string& shownPath) {
    if (!writeFromStart(file, bytes.substr(0, budget))) fail("write", shownPath, GetLastError());
    if (budget != hooks::noFailure) fail("write", shownPath, ERROR_DISK_FULL);
}

void flushAndClose(Handle& file, const std::u16string& shownPath) {
    if (!os::flush(file.get())) fail("write", shownPath, GetLastError());
    if (!file.close()) fail("write", shownPath, GetLastError());
}

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

}  // namespace win32

namespace {

using win32::createNew;
using win32::fail;
using win32::failWith;
using win32::Handle;
using win32::longForm;
using win32::nameStillListed;
using win32::readAll;
using win32::surelyAbsent;
namespace os = win32::os;

// What to hand the system for a path given by the user: the path itself while
// it fits MAX_PATH, which keeps the system's own reading of it, else its
// long form.
std::u16string reachable(const std::u16string& path) { return path.size() < MAX_PATH ? path : longForm(path); }

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

}  // namespace platform
