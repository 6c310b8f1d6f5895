#pragma once
// The Win32 file calls of the file layer, each counted so that the test build
// of the layer can make any one of them fail the way the system would; in the
// shipped build they are the bare calls. Nothing outside platform/win32's
// file layer includes this.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_hooks.h"
#include "platform/win32/win32_support.h"

namespace platform::win32 {

namespace os {

// True, with the error set, when the test build wants this call to fail.
inline bool injected(DWORD error) {
    if (!hooks::operationFails()) return false;
    SetLastError(error);
    return true;
}

inline DWORD attributes(const std::u16string& path) {
    return injected(ERROR_ACCESS_DENIED) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide(path));
}

inline HANDLE open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    if (injected(ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide(path), access, share, nullptr, disposition, flags, nullptr);
}

inline bool read(HANDLE file, char* buffer, DWORD size, DWORD& got) {
    return !injected(ERROR_READ_FAULT) && ReadFile(file, buffer, size, &got, nullptr);
}

// Writes at an offset of its own, whatever the file position.
inline bool writeAt(HANDLE file, const char* data, DWORD size, std::uint64_t offset, DWORD& written) {
    if (injected(ERROR_DISK_FULL)) return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return WriteFile(file, data, size, &written, &at) != 0;
}

inline bool setEnd(HANDLE file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return !injected(ERROR_DISK_FULL) && SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

inline bool flush(HANDLE file) { return !injected(ERROR_WRITE_FAULT) && FlushFileBuffers(file); }

// The handle is released even when the close reports a failure.
inline bool close(HANDLE file) {
    const bool closed = CloseHandle(file) != 0;
    return !injected(ERROR_WRITE_FAULT) && closed;
}

inline bool information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return !injected(ERROR_ACCESS_DENIED) && GetFileInformationByHandle(file, &info);
}

// FILE_TYPE_DISK for a file on a disk; a pipe or a device is another type.
inline DWORD type(HANDLE file) {
    if (injected(ERROR_ACCESS_DENIED)) return FILE_TYPE_UNKNOWN;
    SetLastError(NO_ERROR);
    return GetFileType(file);
}

// Whether the folder lists exactly this name (no wildcards in it): NO_ERROR
// when it does, else the system's error.
inline DWORD findName(const std::u16string& path) {
    if (injected(ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError();
    FindClose(search);
    return NO_ERROR;
}

// The file's own path, every link on the way resolved: "\\?\C:\...".
inline std::optional<std::u16string> finalPath(HANDLE file) {
    if (injected(ERROR_ACCESS_DENIED)) return std::nullopt;
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    return fromWide(buffer.data(), length);
}

// The file's access list (DACL) as a self-relative descriptor; empty when it
// cannot be read.
inline std::vector<char> accessList(HANDLE file) {
    if (injected(ERROR_ACCESS_DENIED)) return {};
    DWORD needed = 0;
    GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return {};
    std::vector<char> descriptor(needed);
    if (!GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) return {};
    return descriptor;
}

inline bool setAccessList(HANDLE file, std::vector<char>& descriptor) {
    return !injected(ERROR_ACCESS_DENIED) &&
           SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data());
}

inline bool setAttributes(const std::u16string& path, DWORD attributes) {
    return !injected(ERROR_ACCESS_DENIED) && SetFileAttributesW(wide(path), attributes);
}

inline bool replace(const std::u16string& target, const std::u16string& replacement, const std::u16string& backup) {
    return !injected(ERROR_SHARING_VIOLATION) &&
           ReplaceFileW(wide(target), wide(replacement), wide(backup), 0, nullptr, nullptr);
}

inline bool move(const std::u16string& from, const std::u16string& to) {
    return !injected(ERROR_ACCESS_DENIED) &&
           MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

inline bool remove(const std::u16string& path) { return !injected(ERROR_ACCESS_DENIED) && DeleteFileW(wide(path)); }

}  // namespace os

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }
    // False, with the error left in GetLastError, when closing fails.
    bool close() {
        if (!valid()) return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return os::close(handle);
    }

private:
    HANDLE handle_;
};

}  // namespace platform::win32
