#include "tools/cli/command_line.h"

#include <string_view>

#ifndef MISTLOCK_VERSION
#define MISTLOCK_VERSION "unknown"
#endif

namespace cli {

namespace {

struct CommandName {
    const char* name;
    Command command;
};

constexpr CommandName commands[] = {
    {"seal", Command::Seal},
    {"open", Command::Open},
    {"open-log", Command::OpenLog},
};

const char* keyOptionName(KeyKind kind) {
    switch (kind) {
        case KeyKind::Password: return "--password";
        case KeyKind::PasswordFile: return "--password-file";
        case KeyKind::KeyFile: return "--key-file";
        case KeyKind::Prompt: break;
    }
    return "";
}

const char* const keyHelp =
    "KEY, at most one of:\n"
    "  --password P        the password, as typed in the plug-in's settings dialog\n"
    "  --password-file F   the first line of the file F is the password (UTF-8,\n"
    "                      or as its byte-order mark says)\n"
    "  --key-file F        the key file F, read as the plug-in reads it: its first\n"
    "                      line, UTF-8 / UTF-16 by byte-order mark, else the code page\n"
    "  without any of them the password is asked for on the terminal, unechoed.\n";

const char* const codePageHelp =
    "  --codepage CP       the ANSI code page both peers' Windows use: 1251\n"
    "                      (Cyrillic, the default) or 1252 (Western European)\n";

const char* const sealHelp =
    "Usage: mistlock seal KEY [--codepage CP] [TEXT]\n"
    "\n"
    "Writes the envelope of TEXT, or of standard input without TEXT, to standard\n"
    "output: what the plug-in sends in place of the message. TEXT is UTF-8 and is\n"
    "converted to the code page, as the messenger carries it; a character the code\n"
    "page lacks becomes '?', with a warning. One line break at the end of standard\n"
    "input is not part of the text. \"hex:DIGITS\" gives the message's raw bytes.\n"
    "\n";

const char* const openHelp =
    "Usage: mistlock open KEY [--codepage CP] [--hex] [ENVELOPE]\n"
    "\n"
    "Writes the plain text of ENVELOPE (\"#MSTLK:\" and hex digits), or of the\n"
    "envelope on standard input, to standard output in UTF-8. Blanks and line\n"
    "breaks around the envelope are ignored.\n"
    "\n";

const char* const openLogHelp =
    "Usage: mistlock open-log KEY [--codepage CP] [FILE]\n"
    "\n"
    "Copies FILE (standard input without FILE, or for \"-\") to standard output\n"
    "in UTF-8, with every envelope in it replaced by its plain text. An envelope\n"
    "is \"#MSTLK:\" and the hex digits that follow it; a line may hold several,\n"
    "and text around them. An envelope that cannot be opened stays as it was; a\n"
    "summary on standard error counts them and says why. The file may be UTF-8\n"
    "(with or without a byte-order mark) or in the code page: without a mark, the\n"
    "first line that is not plain ASCII decides, and a line that is not valid\n"
    "UTF-8 is always read in the code page. The file is read line by line, so its\n"
    "size does not matter.\n"
    "\n";

const char* const overview =
    "Usage: mistlock COMMAND KEY [--codepage CP] [OPERAND]\n"
    "\n"
    "Seals and opens the envelopes of the Mistlock messenger plug-in outside the\n"
    "messenger. Text on the terminal and in files written is UTF-8.\n"
    "\n"
    "Commands:\n"
    "  seal     [TEXT]       envelope of TEXT (or of standard input)\n"
    "  open     [ENVELOPE]   plain text of ENVELOPE (or of standard input)\n"
    "  open-log [FILE]       FILE (or standard input) with every envelope opened\n"
    "\n";

const char* const exitHelp =
    "Exit status: 0 done; 1 an envelope could not be opened, or a file could not\n"
    "be read; 2 wrong usage.\n";

bool takesValue(std::string_view name) {
    return name == "--password" || name == "--password-file" || name == "--key-file" || name == "--codepage";
}

unsigned parseCodePage(const std::string& value, Command command) {
    if (value == "1251") return 1251;
    if (value == "1252") return 1252;
    throw UsageError("--codepage takes 1251 (Cyrillic) or 1252 (Western European), not \"" + value + "\".", command);
}

}  // namespace

Invocation parseCommandLine(const std::vector<std::string>& args) {
    Invocation inv;
    std::size_t i = 0;
    if (i < args.size()) {
        const std::string& first = args[i];
        if (first == "--help" || first == "-h") {
            inv.help = true;
            return inv;
        }
        if (first == "--version") {
            inv.version = true;
            return inv;
        }
        for (const auto& c : commands) {
            if (first == c.name) inv.command = c.command;
        }
        if (inv.command == Command::None) {
            throw UsageError("Unknown command \"" + first + "\": use seal, open or open-log.", Command::None);
        }
        ++i;
    }
    if (inv.command == Command::None) throw UsageError("No command given.", Command::None);

    const Command cmd = inv.command;
    bool optionsEnded = false;
    bool codePageGiven = false;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (inv.operand) {
                throw UsageError(std::string("Too many operands: \"") + *inv.operand + "\" and \"" + arg +
                                     "\" (put a text with blanks in quotes).",
                                 cmd);
            }
            inv.operand = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name == "--help" || name == "-h") {
            inv.help = true;
            continue;
        }
        if (name == "--hex" && cmd == Command::Open && !value) {
            inv.hexOutput = true;
            continue;
        }
        if (!takesValue(name)) throw UsageError("Unknown option \"" + arg + "\".", cmd);
        if (!value) {
            if (i + 1 >= args.size()) throw UsageError("The option " + name + " needs a value.", cmd);
            value = args[++i];
        }
        if (name == "--codepage") {
            if (codePageGiven) throw UsageError("--codepage is given twice.", cmd);
            codePageGiven = true;
            inv.codePage = parseCodePage(*value, cmd);
            continue;
        }
        const KeyKind kind = name == "--password"        ? KeyKind::Password
                             : name == "--password-file" ? KeyKind::PasswordFile
                                                         : KeyKind::KeyFile;
        if (inv.keyKind != KeyKind::Prompt) {
            throw UsageError(std::string("Give only one key: ") + keyOptionName(inv.keyKind) + " and " + name +
                                 " are both present.",
                             cmd);
        }
        if (kind != KeyKind::Password && value->empty()) throw UsageError("The option " + name + " needs a file name.", cmd);
        inv.keyKind = kind;
        inv.keyValue = *value;
    }
    return inv;
}

std::string helpText(Command command) {
    std::string text;
    switch (command) {
        case Command::Seal: text = sealHelp; break;
        case Command::Open: text = openHelp; break;
        case Command::OpenLog: text = openLogHelp; break;
        case Command::None:
            return std::string(overview) + keyHelp + "\nOptions:\n" + codePageHelp +
                   "  --help              this text; \"mistlock COMMAND --help\" for one command\n"
                   "  --version           the version\n\n" +
                   exitHelp;
    }
    text += keyHelp;
    text += "\nOptions:\n";
    text += codePageHelp;
    if (command == Command::Open) text += "  --hex               write the plain text's raw bytes as hex digits\n";
    text += "  --help              this text\n\n";
    text += exitHelp;
    return text;
}

std::string versionText() { return std::string("mistlock ") + MISTLOCK_VERSION + "\n"; }

}  // namespace cli
