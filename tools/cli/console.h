#pragma once
// What mistlock needs from its operating system: its arguments, standard
// input and output, files to read, and a terminal to ask for a password on.
// console_posix.cpp and console_win32.cpp provide it; tests may stand in.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/output_file.h"

namespace cli {

// Bytes read in chunks: standard input or a file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to size bytes; 0 at the end. Raises Exception naming the source on
    // a read error.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
    // How many bytes are left to read, when the system can tell (a regular
    // file), else 0: only a hint, for making room once; reading still goes on
    // to the end.
    virtual std::uint64_t sizeHint() { return 0; }
};

class Console {
public:
    virtual ~Console() = default;
    // Standard input as raw bytes; typed at a console, its text in UTF-8.
    virtual ByteSource& input() = 0;
    // A file named by a UTF-8 path: any file or pipe that can be read (a
    // FIFO, /dev/stdin, a shell's <(...)). `what` names it in messages: "key
    // file", "file". Raises EFileError naming it.
    virtual std::unique_ptr<ByteSource> openFile(const std::string& path, const std::string& what) = 0;
    // Standard output and standard error, UTF-8 or raw bytes, unchanged
    // (on a console, shown as UTF-8). Raises Exception when writing fails.
    virtual void writeOutput(std::string_view bytes) = 0;
    virtual void writeError(std::string_view text) = 0;
    // Asks on the terminal, without echo, for a line of text in UTF-8;
    // nullopt when there is no terminal or nothing was typed.
    virtual std::optional<std::string> askPassword(const std::string& prompt) = 0;

    // Whether standard input is typed at a terminal, and whether standard
    // output is shown on one (false once it goes to a file).
    virtual bool inputIsTerminal() = 0;
    virtual bool outputIsTerminal() = 0;
    // From now on writeOutput writes to an OutputFile for the UTF-8 path,
    // which commitOutput puts in place of the file once everything is
    // written; without the commit the file stays as it was. mustBeNew
    // refuses an existing file. Raises EFileError naming it.
    virtual void sendOutputTo(const std::string& path, bool mustBeNew) = 0;
    virtual void commitOutput() = 0;
    // What standard input reads, when the system can tell.
    virtual std::optional<FileId> inputId() = 0;
    // The system's ANSI code page, which the messenger's plug-in uses: on
    // Windows GetACP(); elsewhere there is none, and the Cyrillic 1251 stands in.
    virtual unsigned systemCodePage() = 0;
};

// The file that Console::openFile opens, for consoles of every kind.
std::unique_ptr<ByteSource> openReadableFile(const std::string& path, const std::string& what);

// Bytes from the operating system's random generator (getrandom,
// BCryptGenRandom). Raises Exception when it has none to give.
void systemRandomBytes(unsigned char* out, std::size_t size);

// The console of this process.
std::unique_ptr<Console> systemConsole();

// The command line's arguments after the program's name, in UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace cli
