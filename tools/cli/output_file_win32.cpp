// -o on Windows: the new file is made beside the target and moved over it by
// MoveFileExW; a file that must be new is moved in without
// MOVEFILE_REPLACE_EXISTING, so that a file made meanwhile by someone else is
// never replaced. A device named by -o (NUL, CON) is written directly.
#include <windows.h>

#include <atomic>

#include "platform/exception.h"
#include "platform/utf8.h"
#include "tools/cli/output_file.h"
#include "tools/cli/system_error_win32.h"

namespace cli {

namespace {

std::wstring wideOf(const std::string& path) {
    const auto text = utf8::decode(path);
    if (!text) throw EFileError("The file name \"" + path + "\" is not valid UTF-8.");
    return std::wstring(text->begin(), text->end());
}

// The folder part of a path, with its separator; empty for the current folder.
std::wstring folderOf(const std::wstring& path) {
    const auto end = path.find_last_of(L"\\/:");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

// The new file's name while it exists: Ctrl+C or closing the console window
// marks it for deletion, and it goes when the process ends.
std::wstring pendingName;
std::atomic<bool> pending{false};

BOOL WINAPI removePending(DWORD) {
    if (pending) DeleteFileW(pendingName.c_str());
    return FALSE;
}

std::optional<FileId> idOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

// Opens an existing file, or folder, only to look at it.
HANDLE openToLook(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

struct OutputFile::Parts {
    std::string path;
    std::wstring target;
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool mustBeNew = false;
    bool direct = false;
    bool committed = false;

    [[noreturn]] void fail(const char* action) const {
        throw EFileError(std::string("Cannot ") + action + " the file \"" + path + "\": " + lastErrorText());
    }

    void create() {
        if (direct) {
            handle = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE) fail("write to");
            return;
        }
        const std::wstring folder = folderOf(target);
        for (unsigned attempt = 0;; ++attempt) {
            wchar_t name[48];
            swprintf(name, 48, L"~mistlock-%08lx-%08lx-%u.tmp", GetCurrentProcessId(), GetTickCount(), attempt);
            const std::wstring candidate = folder + name;
            // Shared for deletion, so that the Ctrl+C handler can remove it.
            handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                temp = candidate;
                break;
            }
            if (GetLastError() != ERROR_FILE_EXISTS || attempt == 100) fail("create");
        }
        pendingName = temp;
        pending = true;
        SetConsoleCtrlHandler(removePending, TRUE);
    }

    void discard() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        if (!temp.empty() && !committed) DeleteFileW(temp.c_str());
        unwatch();
    }

    void unwatch() {
        if (!pending) return;
        pending = false;
        SetConsoleCtrlHandler(removePending, FALSE);
    }

    void moveIntoPlace() {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (mustBeNew ? 0 : MOVEFILE_REPLACE_EXISTING);
        if (MoveFileExW(temp.c_str(), target.c_str(), flags)) return;
        const DWORD error = GetLastError();
        if (mustBeNew && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
            throw EFileError("The file \"" + path + "\" exists already: it is not overwritten.");
        }
        SetLastError(error);
        fail("write to");
    }
};

std::optional<FileId> fileIdOf(const std::string& path) {
    const auto text = utf8::decode(path);
    if (!text) return std::nullopt;
    const HANDLE handle = openToLook(std::wstring(text->begin(), text->end()));
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto id = idOf(handle);
    CloseHandle(handle);
    return id;
}

std::optional<FileId> standardInputId() { return idOf(GetStdHandle(STD_INPUT_HANDLE)); }

OutputFile::OutputFile(const std::string& path, bool mustBeNew)
    : parts_(std::make_unique<Parts>()), description_("the file \"" + path + "\"") {
    Parts& p = *parts_;
    p.path = path;
    p.target = wideOf(path);
    p.mustBeNew = mustBeNew;
    const HANDLE existing = openToLook(p.target);
    if (existing == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) p.fail("create");
        // Nothing there yet: its folder must be.
        const std::wstring folder = folderOf(p.target);
        const DWORD attributes = folder.empty() ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) p.fail("create");
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            p.fail("create");
        }
        return;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(existing, &info);
    p.direct = GetFileType(existing) != FILE_TYPE_DISK;
    CloseHandle(existing);
    if (mustBeNew) throw EFileError("The file \"" + path + "\" exists already: it is not overwritten.");
    if (known && !p.direct && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw EFileError("The file \"" + path + "\" is a folder: give a file name to write to.");
    }
}

OutputFile::~OutputFile() { parts_->discard(); }

void OutputFile::write(std::string_view bytes) {
    Parts& p = *parts_;
    if (p.handle == INVALID_HANDLE_VALUE) p.create();
    while (!bytes.empty()) {
        DWORD n = 0;
        const DWORD piece = static_cast<DWORD>(bytes.size() > (1u << 30) ? (1u << 30) : bytes.size());
        if (!WriteFile(p.handle, bytes.data(), piece, &n, nullptr)) p.fail("write to");
        bytes.remove_prefix(n);
    }
}

void OutputFile::commit() {
    Parts& p = *parts_;
    try {
        if (p.handle == INVALID_HANDLE_VALUE) p.create();
        if (!p.direct && !FlushFileBuffers(p.handle)) p.fail("write to");
        const HANDLE handle = p.handle;
        p.handle = INVALID_HANDLE_VALUE;
        if (!CloseHandle(handle)) p.fail("write to");
        if (!p.direct) p.moveIntoPlace();
    } catch (...) {
        p.discard();
        throw;
    }
    p.committed = true;
    p.unwatch();
}

}  // namespace cli
