#include "tools/cli/cli.h"

#include <memory>

#include "crypto/wipe.h"
#include "envelope/envelope.h"
#include "platform/hex.h"
#include "tools/cli/command_line.h"
#include "tools/cli/key_source.h"
#include "tools/cli/log_opener.h"
#include "tools/cli/message_text.h"

namespace cli {

namespace {

constexpr std::size_t chunkSize = 1 << 20;

std::string readAll(ByteSource& source) {
    std::string all;
    std::string chunk(chunkSize, '\0');
    while (const std::size_t n = source.read(chunk.data(), chunk.size())) all.append(chunk.data(), n);
    return all;
}

int wrongUsage(Console& console, const std::string& message, Command command) {
    console.writeError("mistlock: " + message + "\n\n" + helpText(command));
    return WrongUsage;
}

int seal(const Invocation& inv, Console& console) {
    const std::string input = inv.operand ? *inv.operand : readAll(console.input());
    const std::string_view text = inv.operand ? std::string_view(input) : withoutFinalLineBreak(input);
    const MessageBytes message = messageFromText(text, inv.codePage);
    const ElAES::SecretKey key = keyFor(inv, [&](const std::string& prompt) { return console.askPassword(prompt); });
    if (message.unmappable) {
        console.writeError("mistlock: warning: " + std::to_string(message.unmappable) +
                           (message.unmappable == 1 ? " character is" : " characters are") + " not in code page " +
                           std::to_string(inv.codePage) + " and replaced, as the messenger would replace them.\n");
    }
    console.writeOutput(envelope::seal(message.bytes, key, inv.codePage) + "\n");
    return Success;
}

int open(const Invocation& inv, Console& console) {
    const std::string input = inv.operand ? *inv.operand : readAll(console.input());
    const std::string_view text = trimBlanks(input);
    if (!envelope::hasMarker(text)) {
        console.writeError(std::string("mistlock: This is not an envelope: it does not begin with \"") +
                           std::string(envelope::marker) + "\".\n");
        return Failure;
    }
    const ElAES::SecretKey key = keyFor(inv, [&](const std::string& prompt) { return console.askPassword(prompt); });
    const auto opened = envelope::open(text.substr(envelope::marker.size()), key, inv.codePage);
    console.writeOutput((inv.hexOutput ? platform::toHex(opened.text) : textFromMessage(opened.text, inv.codePage)) + "\n");
    return Success;
}

int openLog(const Invocation& inv, Console& console) {
    const ElAES::SecretKey key = keyFor(inv, [&](const std::string& prompt) { return console.askPassword(prompt); });
    std::unique_ptr<ByteSource> file;
    if (inv.operand && *inv.operand != "-") file = console.openFile(*inv.operand);
    ByteSource& source = file ? *file : console.input();

    LogOpener opener(key, inv.codePage, [&](std::string_view out) { console.writeOutput(out); });
    std::string chunk(chunkSize, '\0');
    while (const std::size_t n = source.read(chunk.data(), chunk.size())) opener.feed(std::string_view(chunk.data(), n));
    opener.finish();
    console.writeError(summaryOf(opener));
    return opener.failed() ? Failure : Success;
}

}  // namespace

int run(const std::vector<std::string>& args, Console& console) {
    Invocation inv;
    try {
        inv = parseCommandLine(args);
    } catch (const UsageError& e) {
        return wrongUsage(console, e.what(), e.command());
    }
    // The password, when it was given on the command line.
    const ElAES::WipeOnExit wipeKeyValue(inv.keyValue);
    try {
        if (inv.version) {
            console.writeOutput(versionText());
            return Success;
        }
        if (inv.help) {
            console.writeOutput(helpText(inv.command));
            return Success;
        }
        switch (inv.command) {
            case Command::Seal: return seal(inv, console);
            case Command::Open: return open(inv, console);
            case Command::OpenLog: return openLog(inv, console);
            case Command::None: break;
        }
        return wrongUsage(console, "No command given.", Command::None);
    } catch (const UsageError& e) {
        return wrongUsage(console, e.what(), e.command());
    } catch (const TextError& e) {
        return wrongUsage(console, e.what(), inv.command);
    } catch (const std::exception& e) {
        // Envelopes that do not open, and files that cannot be read: the
        // message says which and why.
        try {
            console.writeError(std::string("mistlock: ") + e.what() + "\n");
        } catch (...) {
        }
        return Failure;
    }
}

}  // namespace cli
