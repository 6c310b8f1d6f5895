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
        const Invocation inv = cli::parseCommandLine(c.args);
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
    for (const auto& [args, output] : outputs) EXPECT_EQ(cli::parseCommandLine(args).output, output) << args[1];
    EXPECT_TRUE(cli::parseCommandLine({"-V"}).version);
    EXPECT_TRUE(cli::parseCommandLine({"seal", "-V"}).version);
    EXPECT_TRUE(cli::parseCommandLine({"seal", "-"}).readsStandardInput());
    EXPECT_FALSE(cli::parseCommandLine({"seal", "--", "-x"}).readsStandardInput());
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
            cli::parseCommandLine(c.args);
            ADD_FAILURE() << "accepted";
        } catch (const cli::UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
            EXPECT_EQ(e.command(), c.usageOf);
        }
    }
}

}  // namespace
