#pragma once
// The steps that the headless file layer's reads, new files (files.cpp) and
// saves (file_saving.cpp) are made of: failures told, names, and whole reads
// and writes over the counted calls of file_calls.h. Nothing outside that
// layer includes this.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/portable/file_calls.h"

namespace platform::posix {

// Raise EFileError: "Cannot ACTION the file NAME: " and the system's message
// for the error, or the cause given.
[[noreturn]] void fail(const char* action, const std::string& path, int error);
[[noreturn]] void failWith(const char* action, const std::string& path, const std::string& cause);

// The folder part of a path ("." for a bare name), and the last part.
std::string folderOf(const std::string& path);
std::string baseNameOf(const std::string& path);

// Removes a file of our own (a temporary file, a copy).
void discard(const std::string& path);

// The file's bytes up to `limit`, from where the descriptor stands.
std::string readAll(const Fd& file, const std::string& shownName, std::size_t limit = SIZE_MAX);
// Writes the bytes from the start of the file; false, with errno set, when the
// system refuses.
bool writeFromStart(const Fd& file, std::string_view bytes);
// The same for the new content of a save, which a test may make stop after
// `budget` bytes, as a full disk would; raises EFileError.
void writeAll(const Fd& file, std::string_view bytes, std::size_t budget, const std::string& shownName);
void syncAndClose(Fd& file, const std::string& shownName);

// Creates `name`, which must not exist yet, with the bytes on disk; a file
// begun here is removed again when anything fails.
void createNew(const char* action, const std::string& name, std::string_view bytes, std::size_t budget);

}  // namespace platform::posix
