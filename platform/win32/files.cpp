// Whole-file reads and all-or-nothing writes over the Win32 file API.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "platform/test_seams.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

using win32::fileFailure;
using win32::wide;

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // False, with the error left in GetLastError, when closing fails.
    bool close() {
        if (!valid()) return true;
        const bool ok = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

// The folder part of a path, with its separator; empty for a bare name.
std::u16string folderOf(const std::u16string& path) {
    const auto separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator + 1);
}

std::u16string tempNameIn(const std::u16string& folder, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, "~mistlock-%08x-%04x-%02x.tmp", static_cast<unsigned>(GetCurrentProcessId()),
                  static_cast<unsigned>((counter++ + GetTickCount()) & 0xFFFFu), attempt);
    std::u16string out = folder;
    for (const char* p = name; *p; ++p) out += static_cast<char16_t>(*p);
    return out;
}

void writeAll(HANDLE file, std::string_view bytes, const std::u16string& path) {
    // A test may make this write stop part-way, as a full disk would.
    const std::size_t budget = seams::writeBudget();
    if (budget < bytes.size()) bytes = bytes.substr(0, budget);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
            throw EFileError(fileFailure("write", path, GetLastError()));
        }
        if (written == 0) throw EFileError(fileFailure("write", path, ERROR_WRITE_FAULT));
        done += written;
    }
    if (budget != seams::noFailure) throw EFileError(fileFailure("write", path, ERROR_DISK_FULL));
}

}  // namespace

bool fileExists(const std::u16string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(wide(path));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    seams::afterFileExists(path, exists);
    return exists;
}

std::string readFile(const std::u16string& path) {
    Handle file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) throw EFileError(fileFailure("open", path, GetLastError()));
    std::string content;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 31)) {
        content.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
            throw EFileError(fileFailure("read", path, GetLastError()));
        }
        if (read == 0) break;
        content.append(buffer, read);
    }
    return content;
}

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw EFileError(fileFailure("write", path, u"a folder of that name is in the way"));
    }
    // A file the user made read-only is not silently replaced.
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
        throw EFileError(fileFailure("write", path, u"the file is read-only"));
    }

    // The new content goes to a file of its own in the same folder first, so
    // that the old file stays whole until the new one is complete on disk.
    const std::u16string folder = folderOf(path);
    std::u16string temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 64 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temp = tempNameIn(folder, attempt);
        created = CreateFileW(wide(temp), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (created == INVALID_HANDLE_VALUE) throw EFileError(fileFailure("write", path, GetLastError()));

    Handle file(created);
    try {
        writeAll(file.get(), bytes, path);
        if (!FlushFileBuffers(file.get())) throw EFileError(fileFailure("write", path, GetLastError()));
        if (!file.close()) throw EFileError(fileFailure("write", path, GetLastError()));

        // One rename takes the new file into place. The old file's own
        // attributes (hidden, system) go over to the new one.
        if (!MoveFileExW(wide(temp), wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            throw EFileError(fileFailure("write", path, GetLastError()));
        }
    } catch (...) {
        file.close();
        DeleteFileW(wide(temp));
        throw;
    }
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (exists && (attributes & kept)) SetFileAttributesW(wide(path), attributes & (kept | FILE_ATTRIBUTE_ARCHIVE));
}

}  // namespace platform

namespace platform {

void writeFileNew(const std::u16string& path, std::string_view bytes) {
    HANDLE created = CreateFileW(win32::wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) throw EFileError(win32::fileFailure("create", path, GetLastError()));
    Handle file(created);
    try {
        writeAll(file.get(), bytes, path);
        if (!FlushFileBuffers(file.get()) || !file.close()) {
            throw EFileError(win32::fileFailure("write", path, GetLastError()));
        }
    } catch (...) {
        file.close();
        DeleteFileW(win32::wide(path));
        throw;
    }
}

}  // namespace platform
