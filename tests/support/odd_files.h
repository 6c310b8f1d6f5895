#pragma once
// Things that are not regular files, put where the plug-in looks for one, as
// a user or the system could leave them: natively through POSIX, under Wine
// made by the host system itself, so that the tests see what Windows code
// sees of them there.
#include <string>

namespace odd_files {

enum class Odd { Folder, LinkToNothing, Pipe };

// Puts one at `path` (a path as std::filesystem takes it); false when it
// could not be made.
bool place(Odd what, const std::string& path);

#if defined(_WIN32)
// Under Wine: removes a folder in which place() put something, through the
// host system: Wine shows no link that leads nowhere, and may wait forever on
// a pipe. False, leaving the folder, when place() put nothing in it.
bool removeFolderHolding(const std::string& folder);

// Under Wine: runs a shell command of the host system (ln, mkfifo, chattr,
// rm) with the host form of a Windows path as its last argument, and waits
// until it has run: the process handle Wine gives for a host program does not
// tell. False on Windows, or when the command did not finish.
bool runOnHost(const std::wstring& command, const std::wstring& path);
#endif

}  // namespace odd_files
