#pragma once
// What a save keeps beside a settings file before it replaces it, so that no
// byte the user could miss is ever lost silently: the content of a file that
// did not load (NAME.bad), and content that changed on disk since the plug-in
// read or wrote it, or that it read but does not write back, such as lines
// after the fourth of the settings file (NAME.kept).
#include <optional>
#include <string>
#include <string_view>

namespace setpassform {

// What the plug-in knows of one settings file since the messenger started it.
struct FileRecord {
    // It did not load, and the user has not confirmed the dialog since.
    bool failed = false;
    // The bytes it loaded or last wrote; none while nothing was read or
    // written (no file at the start, or one that did not load).
    std::optional<std::string> onDisk;
    // Writing over onDisk loses nothing that the plug-in did not take in.
    bool replaceable = false;
};

// Whether writing `saved` carries everything that reading `loaded` found: the
// same text, whatever its encoding, its kind of line break and whether the
// last line ends in one.
bool carriesAll(std::string_view loaded, std::string_view saved);

// Called before `bytes` replace the file at `path`: keeps what is there now
// beside it, once, when replacing it would lose what the record does not
// vouch for, and records that it did. Returns a line telling the user where
// the copy is, or nothing. Throws EFileError when no copy can be made: then
// the file must not be replaced.
std::string keepBeforeReplacing(const std::u16string& path, FileRecord& record, std::string_view bytes);

// The copy of a file that did not load, as the user is told about it at start.
std::u16string unloadedCopyName(const std::u16string& path);

// A path in quotation marks, UTF-8, for the messages that name files.
std::string quotedPath(const std::u16string& path);

}  // namespace setpassform
