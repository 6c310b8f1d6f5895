#include "tools/cli/cli.h"

#include <memory>

#include "crypto/wipe.h"
#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/key_check.h"
#include "envelope/receipt.h"
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
    console.writeError(usageErrorText(message, command));
    return WrongUsage;
}

// Standard input, with a word to whoever is typing it.
std::string readMessageInput(Console& console, const char* what) {
    if (console.inputIsTerminal()) {
#ifdef _WIN32
        const char* end = "Ctrl+Z and Enter";
#else
        const char* end = "Ctrl+D";
#endif
        console.writeError(std::string("mistlock: type ") + what + ", then " + end + " on a line of its own.\n");
    }
    return readAll(console.input());
}

// The message a text stands for. The plug-in cannot open the envelope of an
// empty message, so none is made.
MessageBytes sealable(std::string_view text, unsigned codePage) {
    MessageBytes message = messageFromText(text, codePage);
    if (message.bytes.empty()) {
        throw TextError("The message is empty, and the envelope of an empty message does not open: nothing is "
                        "sealed.");
    }
    return message;
}

int seal(const Invocation& inv, Console& console) {
    const bool fromInput = inv.readsStandardInput();
    // A text on the command line is looked at before a password is asked for.
    MessageBytes message;
    if (!fromInput) message = sealable(*inv.operand, inv.codePage);
    // The key before standard input: a password typed after a long message is
    // one more chance to stop.
    KeyNotes notes;
    const ElAES::SecretKey key = keyFor(inv, console, &notes, true);
    if (notes.units == 0) {
        throw Exception("The key is empty: it gives the all-zero key that anybody can try first, and the plug-in "
                        "sends nothing under it. Nothing is sealed.");
    }
    console.writeError(keyWarnings(notes, inv.codePage, true));
    if (fromInput) {
        const std::string input = readMessageInput(console, "the message");
        try {
            message = sealable(withoutFinalLineBreak(input), inv.codePage);
        } catch (const TextError& e) {
            // What came in is the problem, not how mistlock was called.
            throw Exception(std::string("Standard input: ") + e.what());
        }
    }
    if (message.unmappable) {
        console.writeError("mistlock: warning: " + std::to_string(message.unmappable) +
                           (message.unmappable == 1 ? " character is" : " characters are") + " not in code page " +
                           std::to_string(inv.codePage) + " and replaced, as the messenger would replace them.\n");
    }
    console.writeOutput(envelope::seal(message.bytes, key, inv.codePage) + "\n");
    console.commitOutput();
    return Success;
}

// Where the envelope is in what was given: the whole text when it begins
// with the marker, else the one envelope inside pasted text.
struct Located {
    std::string_view digits;
    envelope::Extent extent;
};

Located locateEnvelope(std::string_view text) {
    if (envelope::hasMarker(text)) return {text.substr(envelope::marker.size()), envelope::Extent::Whole};
    std::size_t count = 0, first = 0;
    for (std::size_t at = text.find(envelope::marker); at != std::string_view::npos;
         at = text.find(envelope::marker, at + 1)) {
        if (count++ == 0) first = at;
    }
    if (count == 0) {
        throw Exception(std::string("This is not an envelope: it holds no \"") + std::string(envelope::marker) +
                        "\". A chat history whose envelopes should be opened goes to 'mistlock open-log'.");
    }
    if (count > 1) {
        throw Exception("The text holds " + std::to_string(count) +
                        " envelopes: 'mistlock open-log' opens every one of them.");
    }
    std::string_view digits = text.substr(first + envelope::marker.size());
    std::size_t end = 0;
    while (end < digits.size() && platform::hexDigitValue(digits[end]) >= 0) ++end;
    return {digits.substr(0, end), envelope::Extent::Prefix};
}

// Where the opened envelope came from, when not from this side's code page
// alone.
std::string codePageNote(const envelope::Received& opened, const Invocation& inv) {
    if (!opened.alike.empty()) {
        std::string others;
        for (std::size_t i = 0; i < opened.alike.size(); ++i) {
            others += (i == 0 ? "" : i + 1 == opened.alike.size() ? " and " : ", ") + std::to_string(opened.alike[i]);
        }
        const std::string shown = std::to_string(opened.codePage);
        return "mistlock: the envelope reads as the same bytes sealed on code page " + shown + " and on " + others +
               ", but the message as other characters: it is shown as sealed on " + shown + " (" + alikeRule() +
               "). --codepage " + std::to_string(opened.alike.front()) + " shows it as sealed there.\n";
    }
    if (opened.codePage == inv.codePage) return "";
    return "mistlock: the envelope was sealed on code page " + std::to_string(opened.codePage) + ", not " +
           std::to_string(inv.codePage) + ", and is opened as it was sent" +
           (inv.hexOutput ? " (the bytes are in code page " + std::to_string(opened.codePage) + ")" : std::string()) +
           ".\n";
}

int open(const Invocation& inv, Console& console) {
    std::string input;
    std::optional<ElAES::SecretKey> key;
    KeyNotes notes;
    if (inv.readsStandardInput()) {
        key = keyFor(inv, console, &notes);
        input = readMessageInput(console, "or paste the envelope");
    } else {
        input = *inv.operand;
    }
    const Located found = locateEnvelope(trimBlanks(input));
    if (!key) key = keyFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    const envelope::Received opened = envelope::openReceived(found.digits, *key, inv.codePage, found.extent);
    std::string out = inv.hexOutput ? platform::toHex(opened.text) : textFromMessage(opened.text, opened.codePage);
    // Nothing decrypted may drive the terminal.
    if (console.outputIsTerminal()) out = escapedForTerminal(out);
    console.writeOutput(out + "\n");
    console.commitOutput();
    console.writeError(codePageNote(opened, inv));
    if (!opened.verified) {
        console.writeError("mistlock: opened, key not verifiable: the message is " +
                           std::to_string(opened.declaredLength) +
                           " bytes long, a multiple of 16, and such an envelope (from an earlier plug-in) carries no "
                           "check. With a wrong key "
                           "the text above is unrelated bytes: compare the key check codes ('mistlock key-id').\n");
        return OpenedUnverified;
    }
    return Success;
}

int openLog(const Invocation& inv, Console& console) {
    KeyNotes notes;
    const ElAES::SecretKey key = keyFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    // The whole history decides its encoding: a file is read twice, standard
    // input is held.
    const bool fromInput = inv.readsStandardInput();
    std::string held;
    HistoryScan scan;
    if (fromInput) {
        held = readMessageInput(console, "or paste the history");
        scan.feed(held);
    } else {
        const auto file = console.openFile(*inv.operand, "file");
        std::string chunk(chunkSize, '\0');
        while (const std::size_t n = file->read(chunk.data(), chunk.size())) scan.feed(std::string_view(chunk.data(), n));
    }

    LogOpener opener(key, inv.codePage, [&](std::string_view out) { console.writeOutput(out); }, scan.result(),
                     console.outputIsTerminal());
    if (fromInput) {
        opener.feed(held);
    } else {
        const auto file = console.openFile(*inv.operand, "file");
        std::string chunk(chunkSize, '\0');
        while (const std::size_t n = file->read(chunk.data(), chunk.size())) opener.feed(std::string_view(chunk.data(), n));
    }
    opener.finish();
    // Envelopes that stay closed are in the output as they were: it is whole.
    console.commitOutput();
    console.writeError(summaryOf(opener));
    if (opener.failed()) return Failure;
    return opener.unverified() ? OpenedUnverified : Success;
}

int keygen(const Invocation& inv, Console& console, const RandomSource& random) {
    if (!inv.output && console.outputIsTerminal()) {
        throw UsageError("keygen writes a key file, not text: give -o FILE, or send standard output to a file.",
                         Command::Keygen);
    }
    // Drawn before anything is written: a random source that fails leaves no file.
    std::u16string keyText = newKeyText(random);
    const ElAES::WipeOnExit wipeKeyText(keyText);
    std::string bytes = keyFileBytes(keyText);
    const ElAES::WipeOnExit wipeBytes(bytes);
    console.writeOutput(bytes);
    console.commitOutput();
    const std::string code = envelope::keyCheckCode(envelope::keyBlockFromText(keyText));
    console.writeError("mistlock: a new key file" + (inv.output ? " \"" + *inv.output + "\"" : std::string()) +
                       " is written. Its key check code: " + code +
                       ".\nGive the file to your friend out of band, never through the messenger; both pick it "
                       "as the key file in the plug-in's settings, then compare the code by phone.\n");
    return Success;
}

int keyId(const Invocation& inv, Console& console) {
    KeyNotes notes;
    const ElAES::SecretKey key = keyFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    if (notes.units == 0) console.writeError("mistlock: warning: the key is empty: the plug-in sends nothing under it.\n");
    console.writeOutput(envelope::keyCheckCode(key) + "\n");
    return Success;
}

// Refuses, before anything is read, an output file that is one of the inputs
// (through any path or link), and a key file that is standard input when the
// message comes from there too.
void refuseInputsThatClash(const Invocation& inv, Console& console) {
    const bool readsInput = inv.readsStandardInput() && inv.command != Command::Keygen && inv.command != Command::KeyId;
    const bool keyFromFile = inv.keyKind == KeyKind::KeyFile || inv.keyKind == KeyKind::PasswordFile;
    const std::string keyFile = inv.keyKind == KeyKind::KeyFile ? "key file" : "password file";
    const auto keyFileId = keyFromFile ? fileIdOf(inv.keyValue) : std::nullopt;
    const auto inputId = readsInput ? console.inputId() : std::nullopt;
    if (keyFileId && inputId && *keyFileId == *inputId) {
        throw UsageError("The " + keyFile + " \"" + inv.keyValue +
                             "\" is standard input, which is to hold the message too: give the message as an "
                             "argument, or the key another way.",
                         inv.command);
    }
    if (!inv.output) return;
    const auto outputId = fileIdOf(*inv.output);
    if (!outputId) return;
    const auto refuseIf = [&](const std::optional<FileId>& input, const std::string& what) {
        if (input && *input == *outputId) {
            throw UsageError("The output file \"" + *inv.output + "\" is " + what +
                                 ", which it would replace: write to another file.",
                             inv.command);
        }
    };
    refuseIf(keyFileId, "the " + keyFile);
    refuseIf(inputId, "standard input");
    if (inv.command == Command::OpenLog && !inv.readsStandardInput()) {
        refuseIf(fileIdOf(*inv.operand), "the history read");
    }
}

}  // namespace

int run(const std::vector<std::string>& args, Console& console, const RandomSource& random) {
    Invocation inv;
    try {
        inv = parseCommandLine(args, console.systemCodePage());
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
            console.writeOutput(helpText(inv.command, console.systemCodePage()));
            return Success;
        }
        refuseInputsThatClash(inv, console);
        if (inv.output) console.sendOutputTo(*inv.output, inv.command == Command::Keygen);
        switch (inv.command) {
            case Command::Seal: return seal(inv, console);
            case Command::Open: return open(inv, console);
            case Command::OpenLog: return openLog(inv, console);
            case Command::Keygen: return keygen(inv, console, random);
            case Command::KeyId: return keyId(inv, console);
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
