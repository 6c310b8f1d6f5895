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
    {"seal", Command::Seal},       {"open", Command::Open},     {"open-log", Command::OpenLog},
    {"keygen", Command::Keygen},   {"key-id", Command::KeyId},
};

// Those the plug-in reads an envelope through when the receiver's own fails.
constexpr unsigned knownCodePages[] = {1251, 1252, 1250, 1254, 1257, 1253, 866};

const char* nameOf(Command command) {
    for (const auto& c : commands) {
        if (c.command == command) return c.name;
    }
    return "";
}

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
    "  F may be a pipe as well: <(...), /dev/stdin, a FIFO; its first 64 KiB count.\n"
    "  without any of them the password is asked for on the terminal, unechoed\n"
    "  (twice when sealing).\n";

const char* const codePageHelp =
    "  --codepage CP       the ANSI code page of this side's Windows: 1251\n"
    "                      (Cyrillic), 1252 (Western), 1250, 1253, 1254, 1257, 866;\n"
    "                      without it, that of the Windows mistlock.exe runs on,\n"
    "                      as the plug-in takes it, and 1251 on other systems\n";

std::string codePageHere(unsigned systemCodePage) {
#ifdef _WIN32
    const char* where = "this Windows";
#else
    const char* where = "this system";
#endif
    if (!isKnownCodePage(systemCodePage)) {
        return std::string("                      (") + where + " uses " + std::to_string(systemCodePage) +
               ": give --codepage)\n";
    }
    return std::string("                      (here: ") + std::to_string(systemCodePage) + ")\n";
}

const char* const sealHelp =
    "Usage: mistlock seal KEY [--codepage CP] [-o FILE] [TEXT | -]\n"
    "\n"
    "Writes the envelope of TEXT, or of standard input without TEXT or for \"-\",\n"
    "to standard output: what the plug-in sends in place of the message. TEXT is\n"
    "UTF-8 and is converted to the code page, as the messenger carries it; a\n"
    "character the code page lacks becomes '?', with a warning. One line break at\n"
    "the end of standard input is not part of the text. \"hex:DIGITS\" gives the\n"
    "message's raw bytes. An empty key, under which the plug-in sends nothing, is\n"
    "refused; a warning says when the key is short. With a sealed key file (see\n"
    "keygen) the envelope is sealed (\"#MSTLK2:\") under a fresh random nonce;\n"
    "otherwise it is classic, and an empty message, whose classic envelope does\n"
    "not open, is refused.\n"
    "\n";

const char* const openHelp =
    "Usage: mistlock open KEY [--codepage CP] [--hex] [-o FILE] [ENVELOPE | -]\n"
    "\n"
    "Writes the plain text of ENVELOPE (\"#MSTLK:\" and hex digits, or sealed:\n"
    "\"#MSTLK2:\" and base64url), or of the envelope on standard input, to\n"
    "standard output in UTF-8. The envelope may sit inside pasted text\n"
    "(\"Bob (12:31): #MSTLK:...\"); for several, use open-log. A sealed envelope\n"
    "opens only with a sealed key file, and only as it was sealed.\n"
    "An envelope sealed on another code page (1250-1257, 866) is found and opened,\n"
    "and standard error says which, or names the code pages that read it alike.\n"
    "An earlier plug-in's message of 16, 32, 48... bytes carries no check, so a\n"
    "wrong key cannot be told: \"opened, key not verifiable\" (exit 3).\n"
    "On a terminal, control characters are shown escaped (\\x1B).\n"
    "\n";

const char* const openLogHelp =
    "Usage: mistlock open-log KEY [--codepage CP] [-o FILE] [FILE | -]\n"
    "\n"
    "Copies FILE (standard input without FILE, or for \"-\") to standard output\n"
    "in UTF-8, with every envelope in it replaced by its plain text. An envelope\n"
    "is \"#MSTLK:\" and the hex digits that follow it, as far as its length says,\n"
    "or sealed: \"#MSTLK2:\" and the base64url characters that follow it (A-Z,\n"
    "a-z, 0-9, - and _), which only a sealed key file opens. A line may hold\n"
    "several, and text around them. An envelope that cannot be\n"
    "opened stays as it was; a summary on standard error counts the envelopes\n"
    "opened, those opened whose key is not verifiable, and those not opened, with\n"
    "their lines, and says why. The file may be UTF-8 or UTF-16 (with or without\n"
    "a byte-order mark) or in the code page: the whole file decides.\n"
    "\n";

const char* const keygenHelp =
    "Usage: mistlock keygen [--sealed] [-o FILE]\n"
    "\n"
    "Makes a new key file from the system's random generator: its key is the\n"
    "full 32 bytes the plug-in uses, and it reads the same on every code page.\n"
    "Give it to your friend out of band (in person, on a USB stick), never by the\n"
    "messenger; both pick it in the plug-in's settings as the key file. An\n"
    "existing FILE is never overwritten, and a failed run leaves no file. Without\n"
    "-o the file goes to standard output, which must not be a terminal.\n"
    "With --sealed the file also holds the line \"Mistlock-Sealed: 2\": a sealed\n"
    "key file, under which Mistlock sends sealed envelopes (\"#MSTLK2:\"), which\n"
    "are authenticated and differ every time. Only Mistlock reads them: give a\n"
    "sealed key file only to a friend who runs Mistlock.\n"
    "\n";

const char* const keyIdHelp =
    "Usage: mistlock key-id KEY [--codepage CP]\n"
    "\n"
    "Writes the key's check code: twelve digits that two friends read to each\n"
    "other by phone to make sure they hold the same key. The plug-in's about box\n"
    "shows the same code. It tells nothing about the key itself. For a sealed key\n"
    "file it is the code of the sealed key, and standard error says so.\n"
    "\n";

const char* const overview =
    "Usage: mistlock COMMAND [KEY] [OPTIONS] [OPERAND]\n"
    "\n"
    "Seals and opens the envelopes of the Mistlock messenger plug-in outside the\n"
    "messenger, and makes and checks keys. Text on the terminal and in files\n"
    "written is UTF-8.\n"
    "\n"
    "Commands:\n"
    "  seal     [TEXT]       envelope of TEXT (or of standard input)\n"
    "  open     [ENVELOPE]   plain text of ENVELOPE (or of standard input)\n"
    "  open-log [FILE]       FILE (or standard input) with every envelope opened\n"
    "  keygen                a new key file with a full-strength key (--sealed:\n"
    "                        for sealed envelopes)\n"
    "  key-id                the key's check code, to compare by phone\n"
    "\"-\" as the operand is standard input.\n"
    "\n";

const char* const exitHelp =
    "Exit status: 0 done; 1 an envelope could not be opened, a file could not be\n"
    "read or written, or there is nothing to seal; 2 wrong usage; 3 opened, but\n"
    "the key is not verifiable.\n";

const char* const outputHelp =
    "  -o, --output FILE   write to FILE instead of standard output: to a new file\n"
    "                      that takes FILE's place once all is written; a failed\n"
    "                      run leaves FILE as it was\n";

bool takesValue(std::string_view name) {
    return name == "--password" || name == "--password-file" || name == "--key-file" || name == "--codepage" ||
           name == "--output" || name == "-o";
}

unsigned parseCodePage(const std::string& value, Command command) {
    for (const unsigned cp : knownCodePages) {
        if (value == std::to_string(cp)) return cp;
    }
    throw UsageError("--codepage takes 1251, 1252, 1250, 1253, 1254, 1257 or 866, not \"" + value + "\".", command);
}

}  // namespace

bool isKnownCodePage(unsigned codePage) {
    for (const unsigned cp : knownCodePages) {
        if (cp == codePage) return true;
    }
    return false;
}

Invocation parseCommandLine(const std::vector<std::string>& args, unsigned systemCodePage) {
    Invocation inv;
    if (isKnownCodePage(systemCodePage)) inv.codePage = systemCodePage;
    std::size_t i = 0;
    if (i < args.size()) {
        const std::string& first = args[i];
        if (first == "--help" || first == "-h") {
            inv.help = true;
            return inv;
        }
        if (first == "--version" || first == "-V") {
            inv.version = true;
            return inv;
        }
        for (const auto& c : commands) {
            if (first == c.name) inv.command = c.command;
        }
        if (inv.command == Command::None) {
            throw UsageError("Unknown command \"" + first + "\": use seal, open, open-log, keygen or key-id.",
                             Command::None);
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
            if (cmd == Command::Keygen || cmd == Command::KeyId) {
                throw UsageError(std::string(nameOf(cmd)) + " takes no operand, but \"" + arg + "\" was given.", cmd);
            }
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
        } else if (arg.rfind("-o", 0) == 0 && arg.size() > 2) {
            name = "-o";
            value = arg.substr(2);
        }
        if (name == "--help" || name == "-h") {
            inv.help = true;
            continue;
        }
        if (name == "--version" || name == "-V") {
            inv.version = true;
            continue;
        }
        if (name == "--hex" && cmd == Command::Open && !value) {
            inv.hexOutput = true;
            continue;
        }
        if (name == "--sealed" && cmd == Command::Keygen && !value) {
            inv.sealed = true;
            continue;
        }
        if (!takesValue(name)) throw UsageError("Unknown option \"" + arg + "\".", cmd);
        if (!value) {
            if (i + 1 >= args.size()) throw UsageError("The option " + name + " needs a value.", cmd);
            value = args[++i];
        }
        if (name == "--output" || name == "-o") {
            if (cmd == Command::KeyId) throw UsageError("key-id writes only to standard output.", cmd);
            if (inv.output) throw UsageError("The output file is given twice.", cmd);
            if (value->empty()) throw UsageError("The option " + name + " needs a file name.", cmd);
            inv.output = *value;
            continue;
        }
        if (cmd == Command::Keygen) {
            throw UsageError("keygen makes a new key: it takes no " + name + ".", cmd);
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
    if (inv.codePage == 0 && !inv.help && !inv.version && cmd != Command::Keygen) {
        // Text in a code page the envelope cannot carry would reach the peer
        // as other text, without an error.
        throw UsageError("This system's ANSI code page, " + std::to_string(systemCodePage) +
                             ", is not one the plug-in carries envelopes in: give --codepage with your "
                             "contacts' (1251, 1252, 1250, 1253, 1254, 1257 or 866).",
                         cmd);
    }
    return inv;
}

std::string helpText(Command command, unsigned systemCodePage) {
    std::string text;
    switch (command) {
        case Command::Seal: text = sealHelp; break;
        case Command::Open: text = openHelp; break;
        case Command::OpenLog: text = openLogHelp; break;
        case Command::KeyId: text = keyIdHelp; break;
        case Command::Keygen:
            return std::string(keygenHelp) + "Options:\n" +
                   "  --sealed            a sealed key file\n" + outputHelp +
                   "  -h, --help          this text\n\n" + exitHelp;
        case Command::None:
            return std::string(overview) + keyHelp + "\nOptions:\n" + codePageHelp + codePageHere(systemCodePage) +
                   outputHelp +
                   "  -h, --help          this text; \"mistlock COMMAND --help\" for one command\n"
                   "  -V, --version       the version\n\n" +
                   exitHelp;
    }
    text += keyHelp;
    text += "\nOptions:\n";
    text += codePageHelp;
    text += codePageHere(systemCodePage);
    if (command == Command::Open) text += "  --hex               write the plain text's raw bytes as hex digits\n";
    if (command != Command::KeyId) text += outputHelp;
    text += "  -h, --help          this text\n\n";
    text += exitHelp;
    return text;
}

std::string usageErrorText(const std::string& message, Command) {
    return "mistlock: " + message + "\nTry 'mistlock --help'.\n";
}

std::string versionText() { return std::string("mistlock ") + MISTLOCK_VERSION + "\n"; }

}  // namespace cli
