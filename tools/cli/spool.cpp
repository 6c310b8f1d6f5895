#include "tools/cli/spool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/exception.h"

namespace cli {

namespace {

// A file only this process can name, gone when it is closed, even should
// mistlock end without closing it on POSIX systems.
std::FILE* temporaryFile() {
#ifdef _WIN32
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"mlk", 0, name) == 0) return nullptr;
    // "D": deleted when closed.
    std::FILE* file = _wfopen(name, L"w+bD");
    if (!file) DeleteFileW(name);
    return file;
#else
    return std::tmpfile();
#endif
}

}  // namespace

Spool::Spool() : file_(temporaryFile()) {}

Spool::~Spool() {
    if (file_) std::fclose(file_);
}

void Spool::write(std::string_view bytes) {
    if (!file_) {
        held_.append(bytes);
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        throw Exception("Cannot keep standard input in a temporary file (is the disk full?): " +
                        std::string(std::strerror(errno)) + ".");
    }
}

void Spool::rewind() {
    if (file_ && (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)) {
        throw Exception("Cannot read standard input back from its temporary file: " +
                        std::string(std::strerror(errno)) + ".");
    }
    at_ = 0;
}

std::size_t Spool::read(char* buffer, std::size_t size) {
    if (!file_) {
        const std::size_t n = std::min(size, held_.size() - at_);
        std::memcpy(buffer, held_.data() + at_, n);
        at_ += n;
        return n;
    }
    const std::size_t n = std::fread(buffer, 1, size, file_);
    if (n == 0 && std::ferror(file_)) {
        throw Exception("Cannot read standard input back from its temporary file: " +
                        std::string(std::strerror(errno)) + ".");
    }
    return n;
}

}  // namespace cli
