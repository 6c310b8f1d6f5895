#pragma once
// The operating-system seam. The core includes this header and never
// <windows.h>: platform/win32/ provides it over the real Win32 API, and
// platform/portable/ over a headless stand-in for Linux builds and tests.
//
// Text conventions: std::u16string is UTF-16 (the same bytes as wchar_t on
// Windows); std::string is 8-bit text in an ANSI code page, or raw bytes.
// Exception messages are UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace platform {

// ---- Code pages ----------------------------------------------------------

// The system ANSI code page (GetACP): 1251, 1252, ...
unsigned ansiCodePage();

// 8-bit text to UTF-16 through the given code page, no flags; a zero byte
// becomes U+0000. With a single-byte code page every byte gives one unit.
std::u16string widenCodePage(unsigned codePage, std::string_view text);
// UTF-16 to 8-bit text in the given code page, no flags: a character that the
// code page lacks becomes its default character; U+0000 becomes a zero byte.
std::string narrowCodePage(unsigned codePage, std::u16string_view text);

// The same through the system ANSI code page.
std::u16string widen(std::string_view text);
std::string narrow(std::u16string_view text);

// True when every byte of the text, read in the given code page, is a
// character the code page assigns. Widening never fails on the byte values a
// code page leaves unassigned: it gives them stand-ins, which is how they
// survive a round trip, but no text holds them.
bool codePageDefines(unsigned codePage, std::string_view text);

// ---- Files ---------------------------------------------------------------
// Paths are UTF-16 and use the backslash as Windows does; the headless layer
// maps them onto its own file system.

// The process's current folder as a full path, without a trailing separator.
std::u16string currentFolder();

// What is at a path, links followed.
enum class PathKind {
    Nothing,  // the system says nothing is there, or could be (a name no file can have)
    File,     // a regular file
    Other,    // something that is not a regular file: a folder, a link to nothing, a pipe, a device
};

// Never opens what it finds for reading, so that a pipe cannot block it. When
// the answer cannot be known (access denied, a device error, an unreachable
// network path) it throws EFileError naming the file and the cause, so that
// a file that is merely out of reach is never taken for a missing one.
PathKind pathKind(const std::u16string& path);

// True when the path names a regular file (pathKind() is File); throws as
// pathKind() does.
bool fileExists(const std::u16string& path);

// The whole content of a regular file; anything else at the path is refused
// without being read. Other programs may hold the file open, even for
// writing, as long as they share it. Throws EFileError naming the file and
// the cause.
std::string readFile(const std::u16string& path);

// The first `limit` bytes of a file, fewer only when the file is shorter; the
// rest is never read. Shared and reported as readFile() does.
std::string readFileStart(const std::u16string& path, std::size_t limit);

// Creates a file that must not exist yet and writes all the bytes to disk.
// Throws EFileError naming the file and the cause when it exists already or
// anything fails; a file it began is removed again.
void writeFileNew(const std::u16string& path, std::string_view bytes);

// Replaces the file's content with the given bytes so that the old content is
// never lost: it stays whole when anything fails. An existing file keeps what
// it had beside its content: its access list, owner, attributes and
// encryption (its mode and owner on POSIX), the other names of a file with
// several hard links, and a symbolic link stays a link (its target is
// written). Where possible the bytes go to a temporary file beside the file,
// which then takes its place; where no such file can be made (no right to
// create files in the folder, a path too long) the file is rewritten in
// place, with a copy of its old bytes kept in the user's temporary folder
// until the new ones are on disk. Throws EFileError naming the file and the
// cause; should even putting the old bytes back fail, the message says where
// their copy is.
void writeFileReplacing(const std::u16string& path, std::string_view bytes);

// ---- Profile (INI) files -------------------------------------------------

// The value of a key in a section of a profile file, at most 2047 characters,
// as GetPrivateProfileStringW reads it; nullopt when the file, the section or
// the key is absent. Section and key names match in any letter case.
std::optional<std::u16string> readProfileString(const std::u16string& path,
                                                const std::u16string& section,
                                                const std::u16string& key);

// ---- User interface services ---------------------------------------------

// A modal message box with no owner, the OK button only and no icon (style 0).
// Returns when the user closes it.
void messageBox(const std::u16string& text, const std::u16string& caption);

// The toolkit's standard error box: the message, an error icon, an OK button.
// With an owner (the handle of a form on the screen) the box is modal to it:
// the form takes no input until the box is closed, so that a second press of
// what failed cannot stack a second box. Without one it stands alone.
void errorBox(const std::u16string& message, std::uintptr_t owner = 0);

// An icon handle as the host protocol carries it (low 32 bits on the wire).
using IconHandle = std::uintptr_t;

// A named icon resource of the plug-in's own module (LoadIconW). 0 on failure.
IconHandle loadIcon(const char16_t* resourceName);
// Releases an icon handle taken from loadIcon.
void destroyIcon(IconHandle icon);

struct MonitorBounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The full bounds (not the work area) of the monitor nearest to the window
// that has the foreground.
MonitorBounds foregroundMonitorBounds();

// ---- Random numbers --------------------------------------------------------

// Fills `size` bytes at `out` from the operating system's cryptographic random
// generator (getrandom on Linux, BCryptGenRandom on Windows), which needs no
// seeding of ours. Throws Exception, saying what failed and what to do, when
// the system gives none; the bytes at `out` are then not to be used.
void randomBytes(void* out, std::size_t size);

// ---- Code addresses in 32 bits ----------------------------------------------
// Some callers carry a code address in 32 bits, which they read as a signed
// number and sign-extend to a pointer.

// True when the low 32 bits of the address, sign-extended, give it back whole.
bool survivesThe32BitTrip(std::uintptr_t address);

// A procedure such a caller calls with a 32-bit code.
using Procedure32 = void (*)(std::int32_t);

// An address through which such a caller reaches `procedure`: the procedure
// itself when its address survives the trip; otherwise a jump to it placed
// below 2 GB, made once per procedure, kept for the process's life and given
// out again on every later call; null when no such jump can be had.
const void* reachableIn32Bits(Procedure32 procedure);

}  // namespace platform
