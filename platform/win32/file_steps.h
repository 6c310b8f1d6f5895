#pragma once
// The steps that the Win32 file layer's reads, new files (files.cpp) and saves
// (file_saving.cpp) are made of: paths in the forms the system takes, names of
// our own, failures told, and whole reads and writes over the counted calls
// of file_calls.h. Nothing outside that layer includes this.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32/file_calls.h"

namespace platform::win32 {

// Removes a file of our own (a temporary file, a backup, a copy).
void discard(const std::u16string& path);

// Raise EFileError: "Cannot ACTION the file PATH: " and the system's message
// for the error, or the cause given.
[[noreturn]] void fail(const char* action, const std::u16string& path, DWORD error);
[[noreturn]] void failWith(const char* action, const std::u16string& path, const std::u16string& cause);

// The path in the system's long form, "\\?\C:\..." or "\\?\UNC\server\...",
// to which no MAX_PATH limit applies. Device paths stay as they are.
std::u16string longForm(const std::u16string& path);
// A long-form path as the user would write it, for messages.
std::u16string shownForm(const std::u16string& path);
// The folder part of a path, with its separator; empty for a bare name.
std::u16string folderOf(const std::u16string& path);
// The last part of a path.
std::u16string baseNameOf(const std::u16string& path);

// Answers that say for certain that nothing is at the path, or could be: no
// such file or folder, or a name no file can have.
bool surelyAbsent(DWORD error);
// Where the system says nothing is at a path, whether its folder still lists
// the name (a link whose file has gone). Raises EFileError when that cannot
// be told.
bool nameStillListed(const std::u16string& path, const std::u16string& systemPath);

// A name that no other save of this or another process is using at the same
// time: the printf pattern given the process id, a counter and the attempt.
std::u16string uniqueName(const char* pattern, unsigned attempt);
// A new file of a unique name in the folder, opened with `access`; the
// handle is invalid, with the error in GetLastError, when none can be made.
HANDLE createUnique(const std::u16string& folder, const std::u16string& prefix, const char* pattern, DWORD access,
                    std::u16string& name);

// The file's bytes up to `limit`, from where the handle stands.
std::string readAll(const Handle& file, const std::u16string& shownPath, std::size_t limit = SIZE_MAX);
// Writes the bytes from the start of the file; false, with the error in
// GetLastError, when the system refuses.
bool writeFromStart(const Handle& file, std::string_view bytes);
// The same for the new content of a save, which a test may make stop after
// `budget` bytes, as a full disk would; raises EFileError.
void writeAll(const Handle& file, std::string_view bytes, std::size_t budget, const std::u16string& shownPath);
void flushAndClose(Handle& file, const std::u16string& shownPath);

// Creates a file that must not exist yet, with the bytes on disk; a file begun
// here is removed again when anything fails.
void createNew(const char* action, const std::u16string& systemPath, const std::u16string& shownPath,
               std::string_view bytes, std::size_t budget);

}  // namespace platform::win32
