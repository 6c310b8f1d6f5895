// The command line: what each argument list asks for, and what is refused
// with which message and which command's usage.
#include <gtest/gtest.h>

#include "tools/cli/command_line.h"

namespace {

using cli::Command;
using cli::Invocation;
using cli::KeyKind;

struct Accepted {
    std::vector<std::string> args;
    Command command;
    KeyKind keyKind;
    std::string keyValue;
    unsigned codePage;
    bool hexOutput;
    std::optional<std::string> operand;
    bool help = false;
};

const Accepted accepted[] = {
    {{"seal", "--password", "pw", "Hello"}, Command::Seal, KeyKind::Password, "pw", 1251, false, "Hello"},
    {{"seal", "Hello", "--password", "pw"}, Command::Seal, KeyKind::Password, "pw", 1251, false, "Hello"},
    {{"seal", "--password=a=b", "x"}, Command::Seal, KeyKind::Password, "a=b", 1251, false, "x"},
    // An empty password is a password: the all-zero key.
    {{"seal", "--password", ""}, Command::Seal, KeyKind::Password, "", 1251, false, std::nullopt},
    {{"seal", "--password", "--codepage"}, Command::Seal, KeyKind::Password, "--codepage", 1251, false, std::nullopt},
    {{"seal", "--codepage", "1252", "--key-file", "k.txt"}, Command::Seal, KeyKind::KeyFile, "k.txt", 1252, false,
     std::nullopt},
    {{"seal", "--codepage=1251"}, Command::Seal, KeyKind::Prompt, "", 1251, false, std::nullopt},
    {{"seal", "--password", "p", "--", "--not-an-option"}, Command::Seal, KeyKind::Password, "p", 1251, false,
     "--not-an-option"},
    {{"seal", "--password", "p", "-"}, Command::Seal, KeyKind::Password, "p", 1251, false, "-"},
    {{"open", "--password-file", "pw.txt", "--hex", "#MSTLK:00"}, Command::Open, KeyKind::PasswordFile, "pw.txt",
     1251, true, "#MSTLK:00"},
    {{"open"}, Command::Open, KeyKind::Prompt, "", 1251, false, std::nullopt},
    {{"open-log", "--key-file", "key", "--codepage", "1252", "history.txt"}, Command::OpenLog, KeyKind::KeyFile, "key",
     1252, false, "history.txt"},
    {{"open-log", "--help"}, Command::OpenLog, KeyKind::Prompt, "", 1251, false, std::nullopt, true},
    {{"seal", "-h", "--password", "p"}, Command::Seal, KeyKind::Password, "p", 1251, false, std::nullopt, true},
    {{"--help"}, Command::None, KeyKind::Prompt, "", 1251, false, std::nullopt, true},
    {{"open", "--codepage", "866", "-"}, Command::Open, KeyKind::Prompt, "", 866, false, "-"},
    {{"key-id", "--key-file", "k"}, Command::KeyId, KeyKind::KeyFile, "k", 1251, false, std::nullopt},
    {{"keygen"}, Command::Keygen, KeyKind::Prompt, "", 1251, false, std::nullopt},
};

TEST(CommandLine, AcceptedArgumentLists) {
    for (const auto& c : accepted) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "] ";
        SCOPED_TRACE(joined);
        const Invocation inv = cli::parseCommandLine(c.args, 1251);
        EXPECT_EQ(inv.command, c.command);
        EXPECT_EQ(inv.keyKind, c.keyKind);
        EXPECT_EQ(inv.keyValue, c.keyValue);
        EXPECT_EQ(inv.codePage, c.codePage);
        EXPECT_EQ(inv.hexOutput, c.hexOutput);
        EXPECT_EQ(inv.operand, c.operand);
        EXPECT_EQ(inv.help, c.help);
    }
}

TEST(CommandLine, OutputFileAndVersionAsOtherToolsSpellThem) {
    const std::pair<std::vector<std::string>, std::optional<std::string>> outputs[] = {
        {{"keygen", "-o", "k.key"}, "k.key"},
        {{"keygen", "-ok.key"}, "k.key"},
        {{"seal", "--output", "e.txt", "x"}, "e.txt"},
        {{"open-log", "--output=o.txt", "h.txt"}, "o.txt"},
        {{"open", "x"}, std::nullopt},
    };
    for (const auto& [args, output] : outputs) EXPECT_EQ(cli::parseCommandLine(args, 1251).output, output) << args[1];
    EXPECT_TRUE(cli::parseCommandLine({"-V"}, 1251).version);
    EXPECT_TRUE(cli::parseCommandLine({"seal", "-V"}, 1251).version);
    EXPECT_TRUE(cli::parseCommandLine({"seal", "-"}, 1251).readsStandardInput());
    EXPECT_FALSE(cli::parseCommandLine({"seal", "--", "-x"}, 1251).readsStandardInput());
}

// Without --codepage the system's code page counts, as the plug-in takes it;
// where envelopes cannot travel in it, one must be given.
TEST(CommandLine, TheSystemsCodePageUnlessOneIsGiven) {
    struct Case {
        std::vector<std::string> args;
        unsigned system;
        unsigned codePage;  // 0: refused, or none needed
        bool refused;
    };
    const Case cases[] = {
        {{"seal", "x"}, 1252, 1252, false},
        {{"seal", "x"}, 1251, 1251, false},
        {{"key-id", "--password", "p"}, 866, 866, false},
        {{"open", "--codepage", "1251", "x"}, 1252, 1251, false},
        {{"open", "--codepage", "1250", "x"}, 65001, 1250, false},
        {{"seal", "x"}, 65001, 0, true},
        {{"open-log"}, 932, 0, true},
        {{"keygen"}, 65001, 0, false},
        {{"seal", "--help"}, 65001, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " on " + std::to_string(c.system));
        try {
            EXPECT_EQ(cli::parseCommandLine(c.args, c.system).codePage, c.codePage);
            EXPECT_FALSE(c.refused);
        } catch (const cli::UsageError& e) {
            EXPECT_TRUE(c.refused) << e.what();
            EXPECT_NE(std::string(e.what()).find("code page, " + std::to_string(c.system) + ", is not one"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_NE(cli::helpText(Command::Seal, 1252).find("(here: 1252)"), std::string::npos);
    EXPECT_NE(cli::helpText(Command::None, 65001).find("uses 65001: give --codepage"), std::string::npos);
}

struct Refused {
    std::vector<std::string> args;
    Command usageOf;  // whose usage text follows the message
    const char* messagePart;
};

const Refused refused[] = {
    {{}, Command::None, "No command"},
    {{"decrypt"}, Command::None, "Unknown command \"decrypt\""},
    {{"seal", "--pasword", "p"}, Command::Seal, "Unknown option \"--pasword\""},
    {{"seal", "--password"}, Command::Seal, "--password needs a value"},
    {{"seal", "--password", "a", "--key-file", "k"}, Command::Seal, "only one key"},
    {{"open", "--key-file", "k", "--password-file", "p"}, Command::Open, "only one key"},
    {{"open", "--key-file", ""}, Command::Open, "needs a file name"},
    {{"seal", "--codepage", "437"}, Command::Seal, "1251, 1252, 1250, 1253, 1254, 1257 or 866"},
    {{"keygen", "--password", "p"}, Command::Keygen, "takes no --password"},
    {{"keygen", "name"}, Command::Keygen, "takes no operand"},
    {{"key-id", "-o", "f"}, Command::KeyId, "only to standard output"},
    {{"seal", "-o", "a", "-o", "b"}, Command::Seal, "given twice"},
    {{"seal", "--codepage", "1251", "--codepage", "1252"}, Command::Seal, "twice"},
    {{"seal", "two", "words"}, Command::Seal, "Too many operands"},
    // --hex belongs to open only: seal takes "hex:" in its text instead.
    {{"seal", "--hex", "x"}, Command::Seal, "Unknown option \"--hex\""},
    {{"open-log", "--hex"}, Command::OpenLog, "Unknown option"},
    {{"open", "--hex=1"}, Command::Open, "Unknown option"},
};

TEST(CommandLine, RefusedArgumentListsSayWhatIsWrong) {
    for (const auto& c : refused) {
        std::string joined;
        for (const auto& a : c.args) joined += "[" + a + "] ";
        SCOPED_TRACE(joined);
        try {
            cli::parseCommandLine(c.args, 1251);
            ADD_FAILURE() << "accepted";
        } catch (const cli::UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
            EXPECT_EQ(e.command(), c.usageOf);
        }
    }
}

}  // namespace
