#pragma once
// The command line of mistlock: what the user asked for, and the help texts.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

enum class Command { None, Seal, Open, OpenLog, Keygen, KeyId };

// Where the key comes from. Prompt: asked for on the terminal.
enum class KeyKind { Prompt, Password, PasswordFile, KeyFile };

struct Invocation {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    KeyKind keyKind = KeyKind::Prompt;
    std::string keyValue;  // the password, or the path of the file (UTF-8)
    // --codepage, or else the system's; 0 for keygen on a system whose code
    // page the plug-in cannot carry envelopes in.
    unsigned codePage = 0;
    bool hexOutput = false;  // open --hex
    bool sealed = false;     // keygen --sealed
    std::optional<std::string> output;   // -o FILE; none: standard output
    // TEXT, ENVELOPE or FILE; none, or "-", is standard input.
    std::optional<std::string> operand;
    bool readsStandardInput() const { return !operand || *operand == "-"; }
};

// Wrong usage: the message says what is wrong; the command is the one whose
// usage text should follow it (None for the overview).
class UsageError : public std::runtime_error {
public:
    UsageError(const std::string& message, Command command) : std::runtime_error(message), command_(command) {}
    Command command() const { return command_; }

private:
    Command command_;
};

// The arguments after the program's name, in UTF-8. Options may come before
// or after the operand, as "--name value" or "--name=value" ("-o FILE" or
// "-oFILE" for the output); "--" ends the options, so that a TEXT may begin
// with "-". "-" alone is standard input. Without --codepage the system's ANSI
// code page counts, the plug-in's own, when --codepage could name it. Raises
// UsageError.
Invocation parseCommandLine(const std::vector<std::string>& args, unsigned systemCodePage);

// The help text of a command, or the overview for Command::None, saying what
// code page counts here without --codepage.
std::string helpText(Command command, unsigned systemCodePage);

// What a usage error prints: the message, and where to read more.
std::string usageErrorText(const std::string& message, Command command);

// The code pages --codepage takes: those the plug-in reads envelopes from.
bool isKnownCodePage(unsigned codePage);

// The version line.
std::string versionText();

}  // namespace cli
