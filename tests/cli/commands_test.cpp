// mistlock's commands run in-process: which key each key option gives, what
// seal makes of its text, what open and open-log write, and the exit status
// and message of every failure. Expected envelopes are worked out from their
// parts (tests/envelope/envelope_reference.h), key blocks written by hand.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/cli/cli_process.h"
#include "tests/cli/fake_console.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/envelope/sealed_vectors.h"
#include "tests/support/test_messenger.h"
#include "envelope/key_block.h"
#include "platform/utf8.h"
#include "tools/cli/cli.h"
#include "tools/cli/key_source.h"

namespace {

using envelope_test::envelopeFor;
using envelope_test::keyOf;
using testing_cli::FakeConsole;
using testing_records::unhex;

std::string data(const std::string& relative) {
    return testing_cli::programPath(std::string(MISTLOCK_TEST_DATA) + "/" + relative);
}

struct Ran {
    int status;
    std::string out, err;
    std::vector<std::string> prompts;
};

Ran run(const std::vector<std::string>& args, const std::string& input = "",
        std::optional<std::string> typed = std::nullopt) {
    FakeConsole console(input, std::move(typed));
    const int status = cli::run(args, console);
    return {status, console.out, console.err, console.prompts};
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- Keys ----------------------------------------------------------------

struct KeyCase {
    const char* name;
    std::vector<std::string> keyArgs;  // may include --codepage
    std::optional<std::string> typed;  // what the terminal answers
    const char* keyHex;                // leading bytes of the key block
    unsigned codePage;
};

// "Ключ-42" is 7 UTF-16 units: its key block is the first 7 bytes of the
// UTF-16LE form. The key files hold "Ключ-4242", 9 units, since a key file
// must give at least 8 bytes; "Êëþ÷-4242" is the same Windows-1251 bytes
// read as 1252.
const char* const klyuch = "1A043B044E0447";
const char* const klyuchFile = "1A043B044E0447042D";
const char* const klyuchFileIn1252 = "CA00EB00FE00F7002D";

const std::vector<KeyCase> keyCases = {
    {"password", {"--password", "pw"}, std::nullopt, "7000", 1251},
    {"password with blanks, untrimmed", {"--password", " pw "}, std::nullopt, "20007000", 1251},
    // 32 units or more: the first 16 only.
    {"long password", {"--password", "abcdefghijklmnopqrstuvwxyz0123456789"}, std::nullopt,
     "6100620063006400650066006700680069006A006B006C006D006E006F007000", 1251},
    {"empty password", {"--password", ""}, std::nullopt, "", 1251},
    {"password in 1252", {"--password", "pw", "--codepage", "1252"}, std::nullopt, "7000", 1252},
    {"typed password", {}, "pw", "7000", 1251},
    {"typed national password", {}, "Ключ-42", klyuch, 1251},
    {"password file, UTF-8", {"--password-file", data("cli/password_utf8.txt")}, std::nullopt, klyuch, 1251},
    {"password file, UTF-8 mark", {"--password-file", data("cli/password_utf8_bom.txt")}, std::nullopt, klyuch, 1251},
    {"password file, UTF-16LE mark", {"--password-file", data("cli/password_utf16le_bom.txt"), "--codepage", "1252"},
     std::nullopt, klyuch, 1252},
    {"password file, empty first line", {"--password-file", data("cli/password_empty_line.txt")}, std::nullopt, "",
     1251},
    {"key file, UTF-8 mark", {"--key-file", data("envelope/key_utf8_bom.txt")}, std::nullopt, klyuchFile, 1251},
    {"key file, UTF-16LE mark", {"--codepage", "1252", "--key-file", data("envelope/key_utf16le_bom.txt")},
     std::nullopt, klyuchFile, 1252},
    {"key file, UTF-16BE mark", {"--key-file", data("envelope/key_utf16be_bom.txt")}, std::nullopt, klyuchFile,
     1251},
    // Without a mark the key file is in the peers' code page, whatever this
    // system's is.
    {"key file, no mark, 1251", {"--codepage", "1251", "--key-file", data("envelope/key_cp1251.txt")}, std::nullopt,
     klyuchFile, 1251},
    {"key file, no mark, 1252", {"--key-file", data("envelope/key_cp1251.txt"), "--codepage", "1252"}, std::nullopt,
     klyuchFileIn1252, 1252},
};

TEST(Commands, EachKeySourceSealsAndOpensWithItsKeyBlock) {
    for (const auto& k : keyCases) {
        SCOPED_TRACE(k.name);
        const std::string expected = envelopeFor("Hello", keyOf(k.keyHex), k.codePage);
        const Ran sealed = run(joined({"seal", "Hello"}, k.keyArgs), "", k.typed);
        // The empty key, all zeros, is refused for sealing, as the plug-in
        // refuses to send under it; what comes under it still opens.
        const bool empty = *k.keyHex == '\0';
        EXPECT_EQ(sealed.status, empty ? 1 : 0) << sealed.err;
        EXPECT_EQ(sealed.out, empty ? "" : expected + "\n");
        if (empty) {
            EXPECT_NE(sealed.err.find("The key is empty"), std::string::npos) << sealed.err;
        }
        // Asked twice when sealing, once when opening.
        EXPECT_EQ(sealed.prompts.size(), k.typed ? 2u : 0u);

        const Ran opened = run(joined({"open", expected}, k.keyArgs), "", k.typed);
        EXPECT_EQ(opened.status, 0) << opened.err;
        EXPECT_EQ(opened.out, "Hello\n");
        EXPECT_EQ(opened.prompts.size(), k.typed ? 1u : 0u);
    }
}

TEST(Commands, ThePromptAsksOnceAndSaysWhatItWants) {
    const Ran r = run({"open-log"}, "x\n", std::string("pw"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.prompts, std::vector<std::string>{"Password: "});
}

struct KeyFailure {
    const char* name;
    std::vector<std::string> keyArgs;
    int status;
    const char* messagePart;
};

const std::vector<KeyFailure> keyFailures = {
    {"no key and no terminal", {}, 2, "no terminal to ask for the password"},
    {"missing key file", {"--key-file", data("cli/no_such_file.txt")}, 1, "does not exist"},
    {"missing password file", {"--password-file", data("cli/no_such_file.txt")}, 1, "does not exist"},
    {"key file is a folder", {"--key-file", data("cli")}, 1, "is not a file"},
    {"empty key file", {"--key-file", data("cli/password_empty.txt")}, 1, "is empty"},
    {"key file of seven characters", {"--key-file", data("cli/password_utf8_bom.txt")}, 1, "has only 7 characters"},
    {"key file in UTF-16 without a mark", {"--key-file", data("cli/key_utf16le_no_mark.txt")}, 1,
     "looks like UTF-16 without a byte-order mark"},
    {"empty password file", {"--password-file", data("cli/password_empty.txt")}, 1, "is empty"},
    {"password file not UTF-8", {"--password-file", data("cli/password_cp1251.txt")}, 1,
     "is not valid UTF-8. Save it as UTF-8, or use --key-file"},
    {"password not UTF-8", {"--password", "\xCA\xEB"}, 2, "The password is not valid UTF-8."},
};

TEST(Commands, KeysThatCannotBeHadStopEveryCommand) {
    for (const auto& f : keyFailures) {
        for (const std::string command : {"seal", "open-log"}) {
            SCOPED_TRACE(std::string(f.name) + ", " + command);
            const Ran r = run(joined({command}, f.keyArgs), "Hello\n");
            EXPECT_EQ(r.status, f.status);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(f.messagePart), std::string::npos) << r.err;
            EXPECT_EQ(r.err.rfind("mistlock: ", 0), 0u) << r.err;
            EXPECT_EQ(r.err.find("\nTry 'mistlock --help'.\n") != std::string::npos, f.status == 2) << r.err;
        }
    }
}

// ---- seal ----------------------------------------------------------------

struct SealCase {
    const char* name;
    std::optional<std::string> text;  // none: from standard input
    std::string input;
    unsigned codePage;
    const char* messageHex;  // the message bytes the envelope must carry
    const char* warning;     // part of standard error, or "" for none
};

const SealCase sealCases[] = {
    {"argument", "Hello", "", 1251, "48656C6C6F", ""},
    {"standard input, LF", std::nullopt, "Hello\n", 1251, "48656C6C6F", ""},
    {"standard input, CR LF", std::nullopt, "Hello\r\n", 1251, "48656C6C6F", ""},
    {"standard input, no line break", std::nullopt, "Hello", 1251, "48656C6C6F", ""},
    {"only one line break dropped", std::nullopt, "Hello\n\n", 1251, "48656C6C6F0A", ""},
    {"lines inside kept", std::nullopt, "a\r\nb\n", 1251, "610D0A62", ""},
    {"an argument keeps its line break", "Hello\n", "", 1251, "48656C6C6F0A", ""},
    {"raw bytes", "hex:00ff41", "", 1251, "00FF41", ""},
    {"raw bytes from standard input", std::nullopt, "hex:C0C1\n", 1252, "C0C1", ""},
    {"Cyrillic in 1251", "Привет", "", 1251, "CFF0E8E2E5F2", ""},
    {"Western in 1252", "Grüße", "", 1252, "4772FCDF65", ""},
    {"euro sign in 1251", "€", "", 1251, "88", ""},
    {"euro sign in 1252", "€", "", 1252, "80", ""},
    {"Cyrillic in 1252", "Жx", "", 1252, "3F78", "1 character is not in code page 1252"},
    {"CJK in 1251", "日本", "", 1251, "3F3F", "2 characters are not in code page 1251"},
};

// What sealing under "pw" says first.
const std::string kShortKeyWarning =
    "mistlock: warning: the key is short: 2 characters fill only 2 of the key block's 32 bytes. "
    "'mistlock keygen' makes a full-strength key file.\n";

TEST(Commands, SealCarriesTheMessageAsTheMessengerWould) {
    for (const auto& c : sealCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"seal", "--password", "pw", "--codepage", std::to_string(c.codePage)};
        if (c.text) args.push_back(*c.text);
        const Ran r = run(args, c.input);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, envelopeFor(unhex(c.messageHex), keyOf("7000"), c.codePage) + "\n");
        ASSERT_EQ(r.err.rfind(kShortKeyWarning, 0), 0u) << r.err;
        const std::string rest = r.err.substr(kShortKeyWarning.size());
        if (*c.warning) {
            EXPECT_NE(rest.find(c.warning), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(rest, "");
        }
    }
}

// A text on the command line that is no message is wrong usage (2); what
// comes on standard input is data (1), without the pointer to --help.
TEST(Commands, SealRefusesTextThatIsNoMessage) {
    struct Refused {
        std::optional<std::string> text;  // none: from standard input
        std::string input;
        int status;
        const char* part;
    };
    const Refused refused[] = {
        {"hex:0G", "", 2, "only hex digits may follow; character 2"},
        {"hex:ABC", "", 2, "3 digits cannot be whole bytes"},
        {"caf\xE9", "", 2, "not valid UTF-8. Give the message's bytes as \"hex:\""},
        // The envelope of an empty message does not open on the other side.
        {"", "", 2, "The message is empty"},
        {"hex:", "", 2, "The message is empty"},
        {std::nullopt, "", 1, "Standard input: The message is empty"},
        {std::nullopt, "\r\n", 1, "Standard input: The message is empty"},
        {std::nullopt, std::string("\x89PNG\r\n\x1A\n\0\0", 10), 1, "Standard input: The text is not valid UTF-8"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text.value_or("standard input: " + c.input));
        std::vector<std::string> args = {"seal", "--password", "pw"};
        if (c.text) args.push_back(*c.text);
        const Ran r = run(args, c.input);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.part), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Try 'mistlock --help'.") != std::string::npos, c.status == 2) << r.err;
    }
}

// ---- open ----------------------------------------------------------------

struct OpenCase {
    const char* name;
    const char* messageHex;  // sealed under "pw" for the case
    unsigned codePage;
    bool hex;
    bool fromInput;
    const char* expected;
    const char* note;  // standard error
};

const OpenCase openCases[] = {
    {"ASCII", "48656C6C6F", 1251, false, false, "Hello\n", ""},
    {"from standard input", "48656C6C6F", 1251, false, true, "Hello\n", ""},
    {"Cyrillic in 1251", "CFF0E8E2E5F2", 1251, false, false, "Привет\n", ""},
    // Every character of this envelope is one 1254 has at the same byte, and
    // "ð" is "ğ" there.
    {"the same bytes in 1252", "CFF0E8E2E5F2", 1252, false, false, "Ïðèâåò\n",
     "mistlock: the envelope reads as the same bytes sealed on code page 1252 and on 1254, but the message as other "
     "characters: it is shown as sealed on 1252 (this side's code page when it is one of them, else the first of "
     "them in the order 1251, 1252, 1250, 1254, 1257, 1253, 866). --codepage 1254 shows it as sealed there.\n"},
    {"raw bytes", "00FF410D0A", 1251, true, false, "00FF410D0A\n", ""},
    {"zero bytes at the end are dropped", "41420000", 1252, true, true, "4142\n", ""},
};

TEST(Commands, OpenWritesThePlainText) {
    for (const auto& c : openCases) {
        SCOPED_TRACE(c.name);
        const std::string sealed = envelopeFor(unhex(c.messageHex), keyOf("7000"), c.codePage);
        std::vector<std::string> args = {"open", "--password", "pw", "--codepage", std::to_string(c.codePage)};
        if (c.hex) args.push_back("--hex");
        if (!c.fromInput) args.push_back(sealed);
        // Blanks and line breaks around a pasted envelope do not matter.
        const Ran r = run(args, c.fromInput ? " \t" + sealed + "\r\n\n" : "");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.expected);
        EXPECT_EQ(r.err, c.note);
    }
}

TEST(Commands, OpenSaysWhyAnEnvelopeStaysClosed) {
    const std::pair<std::string, const char*> closed[] = {
        {"Hello", "This is not an envelope: it holds no \"#MSTLK:\" nor \"#MSTLK2:\". A chat history whose envelopes "
                  "should be opened goes to 'mistlock open-log'."},
        {"Bob: " + envelopeFor("Hello", keyOf("7000")) + " Eve: " + envelopeFor("Hello", keyOf("7000")),
         "The text holds 2 envelopes: 'mistlock open-log' opens every one of them."},
        {"#mstlk:00000000", "not an envelope"},
        {envelopeFor("Hello", keyOf("7100")), "The envelope does not open with this key."},
        {"#MSTLK:", "The envelope is too short to hold a message."},
        {"#MSTLK:00000000", "Incomplete or damaged envelope: its ciphertext is not a whole number of 16-byte blocks"},
        {"#MSTLK:02000000 41", "not a hexadecimal digit, at position 16"},
        {"#MSTLK:C0", "Incomplete or damaged envelope: its digits do not spell valid UTF-8"},
    };
    for (const auto& [text, part] : closed) {
        SCOPED_TRACE(text);
        const Ran r = run({"open", "--password", "pw", text});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("mistlock: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    }
}

// ---- open-log --------------------------------------------------------------

TEST(Commands, OpenLogReadsAFileOrStandardInput) {
    test_messenger::TempFolder folder;
    const std::string good = envelopeFor("Hi", keyOf("7000"), 1251);
    const std::string bad = envelopeFor("Hi", keyOf("7100"), 1251);
    folder.write("good.txt", "12:00 " + good + "\r\n12:01 plain\r\n");
    folder.write("mixed.txt", good + "\n" + bad + "\n");

    Ran r = run({"open-log", "--password", "pw", folder.file("good.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "12:00 Hi\r\n12:01 plain\r\n");
    EXPECT_EQ(r.err, "mistlock: 1 envelope opened.\n");

    r = run({"open-log", "--password", "pw", "-"}, "12:00 " + good + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "12:00 Hi\n");

    r = run({"open-log", "--password", "pw"}, good);
    EXPECT_EQ(r.out, "Hi");

    // What stays closed is copied as it was, and the status says so.
    r = run({"open-log", "--password", "pw", folder.file("mixed.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Hi\n" + bad + "\n");
    EXPECT_NE(r.err.find("  line 2: The envelope does not open with this key."), std::string::npos) << r.err;

    r = run({"open-log", "--password", "pw", folder.file("absent.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("absent.txt"), std::string::npos) << r.err;
}

// ---- help and usage ----------------------------------------------------------

TEST(Commands, HelpForEveryCommandNamesEveryKeyOptionOnStandardOutput) {
    const std::pair<std::vector<std::string>, const char*> asked[] = {
        {{"--help"}, "Usage: mistlock COMMAND"},
        {{"seal", "--help"}, "Usage: mistlock seal KEY"},
        {{"open", "--password", "x", "--help"}, "Usage: mistlock open KEY"},
        {{"open-log", "-h"}, "Usage: mistlock open-log KEY"},
        {{"key-id", "-h"}, "Usage: mistlock key-id KEY"},
    };
    for (const auto& [args, usage] : asked) {
        SCOPED_TRACE(usage);
        const Ran r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(usage, 0), 0u) << r.out;
        for (const char* option : {"--password P", "--password-file F", "--key-file F", "--codepage CP", "Exit status"}) {
            EXPECT_NE(r.out.find(option), std::string::npos) << "lacks " << option;
        }
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.prompts.empty());
    }
    EXPECT_EQ(run({"--version"}).out, "mistlock " MISTLOCK_VERSION "\n");
    EXPECT_EQ(run({"-V"}).out, "mistlock " MISTLOCK_VERSION "\n");
    EXPECT_EQ(run({"keygen", "--help"}).out.rfind("Usage: mistlock keygen [--sealed] [-o FILE]", 0), 0u);
}

TEST(Commands, WrongUsageSaysWhatIsWrongInOneLineAndWhereToReadMore) {
    const Ran r = run({"open", "--password", "x", "--codepage", "437"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "mistlock: --codepage takes 1251, 1252, 1250, 1253, 1254, 1257 or 866, not \"437\".\n"
              "Try 'mistlock --help'.\n");
    EXPECT_EQ(run({}).err, "mistlock: No command given.\nTry 'mistlock --help'.\n");
}

// ---- open: what the plain text is, where it came from, and whether the key
// could be verified ------------------------------------------------------------

struct ReceiptCase {
    const char* name;
    std::string given;  // the envelope, or pasted text holding it
    std::string messageHex;
    unsigned sealedOn;
    bool terminal;  // standard output is a terminal
    int status;
    const char* expected;     // standard output
    const char* errorPart;    // part of standard error, "" for none
};

TEST(Commands, OpenFindsOpensAndSaysWhatItCouldNotVerify) {
    const auto env = [](const std::string& messageHex, unsigned codePage) {
        return envelopeFor(unhex(messageHex), keyOf("7000"), codePage);
    };
    const std::string hello = env("48656C6C6F", 1251);
    const ReceiptCase cases[] = {
        {"pasted from a chat window", "Bob (12:31): " + hello + " ", "", 1251, false, 0, "Hello\n", ""},
        {"the plug-in's error line and the envelope",
         "[\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0] Original:\r\n" + hello, "", 1251, false, 0,
         "Hello\n", ""},
        {"glued to hex-looking text", "see " + hello + "deadbeef", "", 1251, false, 0, "Hello\n", ""},
        // Sealed on 1252 ("Café"), opened by a 1251 side: found, and shown as sent.
        {"from a 1252 peer", env("436166E9", 1252), "", 1252, false, 0, "Café\n",
         "sealed on code page 1252, not 1251"},
        {"from a 1251 peer, national", env("CFF0E8E2E5F2", 1251), "", 1251, false, 0, "Привет\n", ""},
        {"16 bytes: not verifiable", env("30313233343536373839414243444546", 1251), "", 1251, false, 3,
         "0123456789ABCDEF\n", "opened, key not verifiable: the message is 16 bytes long"},
        // ESC ] 0 ; retitles a terminal; BEL ends it; a lone CR rewrites the line.
        {"control characters on a terminal", env("1B5D303B7469746C6507410D42090A", 1251), "", 1251, true, 0,
         "\\x1B]0;title\\x07A\\x0DB\t\n\n", ""},
        {"control characters to a file", env("1B5D303B7469746C6507410D42090A", 1251), "", 1251, false, 0,
         "\x1B]0;title\x07" "A\rB\t\n\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_cli::FakeConsole console;
        console.outputTerminal = c.terminal;
        const int status = cli::run({"open", "--password", "pw", "--codepage", "1251", c.given}, console);
        EXPECT_EQ(status, c.status) << console.err;
        EXPECT_EQ(console.out, c.expected);
        if (*c.errorPart) {
            EXPECT_NE(console.err.find(c.errorPart), std::string::npos) << console.err;
        } else {
            EXPECT_EQ(console.err, "");
        }
    }
}

// Every code page the plug-in reads envelopes from, sealed there and opened
// by a Cyrillic side: the text as it was written, and where it came from.
TEST(Commands, EnvelopesFromEachCodePageOpenOnA1251Side) {
    const std::pair<unsigned, std::string> written[] = {
        {1250, "Zażółć gęślą jaźń"}, {1252, "Grüße aus Köln"}, {1253, "Καλημέρα κόσμε"},
        {1254, "Günaydın, İstanbul"}, {1257, "Labdien, Rīga"},  {866, "Привет из DOS"},
    };
    for (const auto& [codePage, text] : written) {
        SCOPED_TRACE(codePage);
        const Ran sealed = run({"seal", "--password", "a long shared password", "--codepage", std::to_string(codePage), text});
        ASSERT_EQ(sealed.status, 0) << sealed.err;
        const Ran opened = run({"open", "--password", "a long shared password", sealed.out.substr(0, sealed.out.size() - 1)});
        EXPECT_EQ(opened.status, 0) << opened.err;
        EXPECT_EQ(opened.out, text + "\n");
        EXPECT_NE(opened.err.find("sealed on code page " + std::to_string(codePage) + ", not 1251"), std::string::npos)
            << opened.err;
    }
}

// ---- keys: check code, warnings, key files -------------------------------------

TEST(Commands, KeyIdKeygenAndWhatIsSaidAboutAKey) {
    test_messenger::TempFolder folder;
    // "Ключ" saved as UTF-8 without a mark: read in the code page, as the plug-in does.
    folder.write("utf8.txt", "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\r\n");
    Ran r = run({"key-id", "--password", "secret"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0623 0557 1202\n");  // tests/envelope/key_check_test.cpp
    EXPECT_EQ(r.err, "");
    r = run({"key-id", "--key-file", folder.file("utf8.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("hint: the key file has no byte-order mark, so it is read in code page 1251"), std::string::npos)
        << r.err;
    r = run({"seal", "--password", "", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The key is empty"), std::string::npos) << r.err;
    r = run({"seal", "--password", "sixteen chars ok", "x"});
    EXPECT_EQ(r.err, "");
    // Typed twice when sealing, and the two must agree.
    testing_cli::FakeConsole differ("", std::string("pw"));
    differ.answers = {"pw", "wp"};
    EXPECT_EQ(cli::run({"seal", "x"}, differ), 1);
    EXPECT_NE(differ.err.find("The two passwords typed differ"), std::string::npos) << differ.err;
    EXPECT_EQ(differ.out, "");

    // keygen: a binary file is not for a terminal; to a new file it goes.
    testing_cli::FakeConsole terminal;
    terminal.outputTerminal = true;
    EXPECT_EQ(cli::run({"keygen"}, terminal), 2);
    EXPECT_EQ(terminal.out, "");
    r = run({"keygen", "-o", folder.file("k.key")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string key = folder.read("k.key");
    const Ran id = run({"key-id", "--key-file", folder.file("k.key")});
    EXPECT_NE(r.err.find("Its key check code: " + id.out.substr(0, 14)), std::string::npos) << r.err << id.out;
    r = run({"keygen", "-o", folder.file("k.key")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(folder.read("k.key"), key);
    // Read as the plug-in reads it, on either code page: the key block is the
    // 32 bytes after the byte-order mark.
    for (const unsigned cp : {1251u, 1252u}) {
        const ElAES::SecretKey block = envelope::keyBlockFromText(cli::keyFileText(key, cp, "k.key"));
        EXPECT_EQ(testing_records::hex(std::string(block.begin(), block.end())), testing_records::hex(key.substr(2, 32)));
    }
}

// The units a line cannot hold, and surrogates, are drawn again; the rest
// are kept as drawn, low byte first.
TEST(Commands, NewKeyTextsDrawAgainWhatALineCannotHold) {
    std::string stream = unhex("0000" "0A00" "0D00" "00D8" "FFDF" "4100" "0A0D" "FFFF");
    for (int i = 0; i < 30; ++i) stream += unhex("3412");
    std::size_t at = 0;
    const std::u16string text = cli::newKeyText([&](unsigned char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(stream.at(at++));
    });
    ASSERT_EQ(text.size(), 32u);
    EXPECT_EQ(text.substr(0, 3), std::u16string({0x0041, 0x0D0A, 0xFFFF}));
    EXPECT_EQ(text.substr(3), std::u16string(29, 0x1234));
}

// ---- sealed key files -------------------------------------------------------------

// A random source that gives these bytes, and fails when they run out.
cli::RandomSource replaying(std::string bytes) {
    return [bytes, at = std::size_t{0}](unsigned char* out, std::size_t n) mutable {
        if (at + n > bytes.size()) throw Exception("the test's random bytes ran out");
        std::copy(bytes.begin() + at, bytes.begin() + at + n, out);
        at += n;
    };
}

// With a sealed key file every command takes the sealed envelope: under the
// vectors' nonces seal writes the vectors, open and open-log read them (the
// whole text, whatever the code page has), and key-id gives the code of the
// sealed key (worked out with Python's hashlib); a key that is no sealed key
// file opens none, and keygen --sealed makes one.
TEST(Commands, SealedKeyFilesSealAndOpenSealedEnvelopes) {
    using envelope_test::sealedVector;
    const auto hi = sealedVector("Hi"), western = sealedVector("Western text"), cyrillic = sealedVector("Cyrillic text");
    const auto empty = sealedVector("empty message"), tampered = sealedVector("tag changed");
    test_messenger::TempFolder folder;
    // The key line, CR LF, "Mistlock-Sealed: 2", in UTF-16LE with its mark.
    folder.write("sealed.key", "\xFF\xFE" + unhex(hi.keyHex) +
                                   unhex("0D000A004D006900730074006C006F0063006B002D005300650061006C00650064003A0020003200"));
    const std::vector<std::string> sealedKey = {"--key-file", folder.file("sealed.key"), "--codepage", "1251"};
    // Its key block: the first 28 bytes of the line's 28 units.
    const std::string classic = envelopeFor("Hello", keyOf(hi.keyHex.substr(0, 56)), 1251);
    const std::string history = "Bob: " + hi.envelope + " and " + classic + "\nEve: " + tampered.envelope + ".\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string random;  // what the random source gives
        int status;
        std::string out, errPart;
    } cases[] = {
        {"seal", {"seal", "Hi"}, hi.nonce, 0, hi.envelope + "\n", ""},
        {"seal Cyrillic", {"seal", cyrillic.utf8}, cyrillic.nonce, 0, cyrillic.envelope + "\n", ""},
        {"seal the empty message", {"seal", ""}, empty.nonce, 0, empty.envelope + "\n", ""},
        {"seal without random bytes", {"seal", "Hi"}, "", 1, "", "random bytes ran out"},
        {"open", {"open", hi.envelope}, "", 0, "Hi\n", ""},
        {"open what the code page lacks", {"open", western.envelope}, "", 0, western.utf8 + "\n", ""},
        {"open --hex: as the plug-in shows it", {"open", "--hex", western.envelope}, "", 0,
         testing_records::hex(sealedVector("Western text", 1251).onPage) + "\n", ""},
        {"open pasted text", {"open", "Bob (12:31): " + hi.envelope + " ok"}, "", 0, "Hi\n", ""},
        {"open tampered", {"open", tampered.envelope}, "", 1, "", "sealed under another key, or altered"},
        {"open-log", {"open-log", "-"}, "", 1, "Bob: Hi and Hello\nEve: " + tampered.envelope + ".\n",
         "2 envelopes opened (1 of them sealed), 1 envelope could not be opened"},
        {"key-id", {"key-id"}, "", 0, "0550 4736 8923\n", "the key file is sealed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeConsole console(c.args[0] == "open-log" ? history : "");
        std::vector<std::string> args = {c.args[0]};
        args.insert(args.end(), sealedKey.begin(), sealedKey.end());
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        EXPECT_EQ(cli::run(args, console, replaying(c.random)), c.status) << console.err;
        EXPECT_EQ(console.out, c.out);
        EXPECT_NE(console.err.find(c.errPart), std::string::npos) << console.err;
    }

    // Under a password the sealed envelope stays closed, and says why.
    const Ran r = run({"open", "--password", "correct horse battery staple", hi.envelope});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("opens only with a sealed key file"), std::string::npos) << r.err;

    // keygen --sealed: today's key file and the line; what it seals opens.
    FakeConsole made;
    ASSERT_EQ(cli::run({"keygen", "--sealed", "-o", folder.file("new.key")}, made, replaying(std::string(64, 'A'))), 0)
        << made.err;
    EXPECT_NE(made.err.find("a new sealed key file"), std::string::npos) << made.err;
    std::string note;
    for (const char c : std::string("\r\nMistlock key file: the first line is the key. Keep it secret, and do not edit "
                                    "this file.\r\nMistlock-Sealed: 2\r\n")) {
        note += std::string{c, '\0'};
    }
    EXPECT_EQ(folder.read("new.key"), "\xFF\xFE" + std::string(64, 'A') + note);
    const std::vector<std::string> newKey = {"--key-file", folder.file("new.key")};
    const Ran sealed = run(joined({"seal", "Hi"}, newKey));
    EXPECT_EQ(sealed.out.rfind("#MSTLK2:", 0), 0u) << sealed.out << sealed.err;
    EXPECT_EQ(run(joined({"open", sealed.out}, newKey)).out, "Hi\n");
}

}  // namespace
