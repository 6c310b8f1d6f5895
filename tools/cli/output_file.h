#pragma once
// The file that -o names. What a command writes goes to a new file beside it,
// which takes its place only once the command has written everything: until
// then, and after any failure, the file is as it was. output_file_posix.cpp
// and output_file_win32.cpp provide it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// What tells one file from another, whichever path or link reaches it: the
// device and inode, or the volume and file index on Windows.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId& a, const FileId& b) { return a.device == b.device && a.index == b.index; }
};

// The file that a UTF-8 path names, links followed; nullopt when there is none.
std::optional<FileId> fileIdOf(const std::string& path);

// What standard input reads (a file, a pipe), when the system can tell.
std::optional<FileId> standardInputId();

class OutputFile {
public:
    // Nothing is created yet. A folder, a path whose folder does not exist,
    // and for `mustBeNew` an existing file are refused at once. Raises
    // EFileError naming the file.
    OutputFile(const std::string& path, bool mustBeNew);
    // Removes the new file unless it took the target's place.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends to the new file, which the first call creates beside the
    // target. Raises EFileError naming the file.
    void write(std::string_view bytes);

    // The new file, on disk, takes the target's place: it replaces an
    // existing file (on POSIX taking over its permissions, and a link keeps
    // pointing to it), or for `mustBeNew` it moves in only where nothing is.
    // Raises EFileError, the new file removed, when it cannot.
    void commit();

    // "the file "PATH"", for messages.
    const std::string& description() const { return description_; }

    struct Parts;

private:
    std::unique_ptr<Parts> parts_;
    std::string description_;
};

}  // namespace cli
