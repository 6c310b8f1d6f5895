#include "tools/cli/cli.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "crypto/wipe.h"
#include "envelope/base64url.h"
#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/key_check.h"
#include "envelope/receipt.h"
#include "envelope/sealed.h"
#include "envelope/text_steps.h"
#include "platform/hex.h"
#include "tools/cli/command_line.h"
#include "tools/cli/key_source.h"
#include "tools/cli/log_opener.h"
#include "tools/cli/message_text.h"
#include "tools/cli/spool.h"

namespace cli {

namespace {

constexpr std::size_t chunkSize = 1 << 20;

// Read into the string that keeps it: where the size is known beforehand, in
// room made once, and otherwise grown as it comes.
std::string readAll(ByteSource& source) {
    std::string all;
    const std::uint64_t hint = source.sizeHint();
    if (hint < all.max_size()) all.reserve(static_cast<std::size_t>(hint) + 1);
    for (;;) {
        const std::size_t at = all.size();
        const std::size_t room = all.capacity() - at;
        all.resize(at + (room > 0 ? std::min(room, chunkSize) : chunkSize));
        const std::size_t n = source.read(all.data() + at, all.size() - at);
        all.resize(at + n);
        if (n == 0) return all;
    }
}

int wrongUsage(Console& console, const std::string& message, Command command) {
    console.writeError(usageErrorText(message, command));
    return WrongUsage;
}

// Standard input, with a word to whoever is typing it.
// At a terminal, how to end what is typed.
void promptForInput(Console& console, const char* what) {
    if (!console.inputIsTerminal()) return;
#ifdef _WIN32
    const char* end = "Ctrl+Z and Enter";
#else
    const char* end = "Ctrl+D";
#endif
    console.writeError(std::string("mistlock: type ") + what + ", then " + end + " on a line of its own.\n");
}

std::string readMessageInput(Console& console, const char* what) {
    promptForInput(console, what);
    return readAll(console.input());
}

// The plug-in cannot open the classic envelope of an empty message, so none
// is made; a sealed one opens.
void refuseEmpty(const MessageBytes& message, bool sealed) {
    if (message.bytes.empty() && !sealed) {
        throw TextError("The message is empty, and the envelope of an empty message does not open: nothing is "
                        "sealed.");
    }
}

// A sealed envelope under a nonce from the random source.
void sealedEnvelope(const MessageBytes& message, const ElAES::Key& key, unsigned codePage, const RandomSource& random,
                    const envelope::TextSink& sink) {
    envelope::sealed::Nonce nonce;
    random(nonce.data(), nonce.size());
    envelope::sealed::sealWithNonce(message.bytes, key, codePage, nonce, sink);
}

// An opened message on standard output, in UTF-8 (or --hex, as the code
// page's bytes), a piece at a time: a long message is not held twice.
void writeOpened(Console& console, std::string_view bytes, unsigned codePage, bool hex) {
    // Nothing decrypted may drive the terminal.
    const bool escape = console.outputIsTerminal();
    // A code page whose characters may take two bytes converts whole.
    std::string whole;
    const bool byteWise = hex || envelope::convertsByteWise(codePage);
    if (!byteWise) whole = textFromMessage(bytes, codePage);
    const std::optional<CodePageToUtf8> toUtf8 =
        byteWise && !hex ? std::optional<CodePageToUtf8>(codePage) : std::nullopt;
    std::string text;
    eachPiece(byteWise ? bytes : whole, !byteWise, [&](std::string_view piece) {
        if (hex) {
            text = platform::toHex(piece);
        } else if (toUtf8) {
            text.clear();
            toUtf8->append(piece, text);
        } else {
            text.assign(piece);
        }
        console.writeOutput(escape ? escapedForTerminal(text) : text);
    });
    console.writeOutput("\n");
}

// A sealed envelope's text, UTF-8 already, where it was decrypted.
void writeOpenedUtf8(Console& console, std::string_view text) {
    const bool escape = console.outputIsTerminal();
    eachPiece(text, true, [&](std::string_view piece) {
        console.writeOutput(escape ? escapedForTerminal(piece) : std::string(piece));
    });
    console.writeOutput("\n");
}

int seal(const Invocation& inv, Console& console, const RandomSource& random) {
    const bool fromInput = inv.readsStandardInput();
    // A text on the command line is looked at before a password is asked for.
    MessageBytes message;
    if (!fromInput) message = messageFromText(*inv.operand, inv.codePage);
    // The key before standard input: a password typed after a long message is
    // one more chance to stop.
    KeyNotes notes;
    const envelope::MessageKeys keys = keysFor(inv, console, &notes, true);
    if (notes.units == 0) {
        throw Exception("The key is empty: it gives the all-zero key that anybody can try first, and the plug-in "
                        "sends nothing under it. Nothing is sealed.");
    }
    console.writeError(keyWarnings(notes, inv.codePage, true));
    const bool sealed = keys.sealed.has_value();
    if (!fromInput) refuseEmpty(message, sealed);
    if (fromInput) {
        std::string input = readMessageInput(console, "the message");
        input.resize(withoutFinalLineBreak(input).size());
        try {
            message = messageFromText(std::move(input), inv.codePage);
            refuseEmpty(message, sealed);
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
    const auto write = [&](std::string_view text) { console.writeOutput(text); };
    if (sealed) {
        sealedEnvelope(message, *keys.sealed, inv.codePage, random, write);
    } else {
        envelope::seal(message.bytes, keys.block, inv.codePage, write);
    }
    console.writeOutput("\n");
    console.commitOutput();
    return Success;
}

// Where the envelope is in what was given: the whole text when it begins
// with a marker, else the one envelope inside pasted text, which ends at the
// first character that its kind does not use.
struct Located {
    std::string_view digits;  // or base64url characters, for a sealed envelope
    envelope::Extent extent;
    bool sealed;
};

Located locateEnvelope(std::string_view text) {
    namespace sealed = envelope::sealed;
    if (sealed::hasMarker(text)) return {text.substr(sealed::marker.size()), envelope::Extent::Whole, true};
    if (envelope::hasMarker(text)) return {text.substr(envelope::marker.size()), envelope::Extent::Whole, false};
    std::size_t count = 0, first = std::string_view::npos;
    bool firstSealed = false;
    for (const std::string_view marker : {envelope::marker, sealed::marker}) {
        for (std::size_t at = text.find(marker); at != std::string_view::npos; at = text.find(marker, at + 1)) {
            ++count;
            if (at < first) first = at, firstSealed = marker == sealed::marker;
        }
    }
    if (count == 0) {
        throw Exception(std::string("This is not an envelope: it holds no \"") + std::string(envelope::marker) +
                        "\" nor \"" + std::string(sealed::marker) +
                        "\". A chat history whose envelopes should be opened goes to 'mistlock open-log'.");
    }
    if (count > 1) {
        throw Exception("The text holds " + std::to_string(count) +
                        " envelopes: 'mistlock open-log' opens every one of them.");
    }
    std::string_view digits = text.substr(first + (firstSealed ? sealed::marker : envelope::marker).size());
    std::size_t end = 0;
    while (end < digits.size() && (firstSealed ? envelope::isBase64urlCharacter(digits[end])
                                               : platform::hexDigitValue(digits[end]) >= 0)) {
        ++end;
    }
    return {digits.substr(0, end), envelope::Extent::Prefix, firstSealed};
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
    std::optional<envelope::MessageKeys> keys;
    KeyNotes notes;
    if (inv.readsStandardInput()) {
        keys = keysFor(inv, console, &notes);
        input = readMessageInput(console, "or paste the envelope");
    } else {
        input = *inv.operand;
    }
    const Located found = locateEnvelope(trimBlanks(input));
    if (!keys) keys = keysFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    if (found.sealed) {
        if (!keys->sealed) throw Exception(sealedNeedsSealedKey());
        envelope::sealed::Received received(found.digits);
        std::string().swap(input);
        if (inv.hexOutput) {
            writeOpened(console, envelope::sealed::open(std::move(received), *keys->sealed, inv.codePage),
                        inv.codePage, true);
        } else {
            writeOpenedUtf8(console, envelope::sealed::openInPlace(received, *keys->sealed));
        }
        console.commitOutput();
        return Success;
    }
    // The digits are decoded where they were read.
    const std::size_t from = static_cast<std::size_t>(found.digits.data() - input.data());
    const envelope::Received opened = envelope::openReceived(
        envelope::ReceivedDigits(std::move(input), from, found.digits.size(), inv.codePage, found.extent),
        keys->block);
    writeOpened(console, opened.text, opened.codePage, inv.hexOutput);
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
    const envelope::MessageKeys keys = keysFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    // The whole history decides its encoding: a file is read twice, standard
    // input is kept in a temporary file to be read again.
    std::optional<Spool> spool;
    HistoryScan scan;
    std::string chunk(chunkSize, '\0');
    {
        std::unique_ptr<ByteSource> file;
        if (inv.readsStandardInput()) {
            promptForInput(console, "or paste the history");
            spool.emplace();
        } else {
            file = console.openFile(*inv.operand, "file");
        }
        ByteSource& source = spool ? console.input() : *file;
        while (const std::size_t n = source.read(chunk.data(), chunk.size())) {
            scan.feed(std::string_view(chunk.data(), n));
            if (spool) spool->write(std::string_view(chunk.data(), n));
        }
    }

    LogOpener opener(keys.block, inv.codePage, [&](std::string_view out) { console.writeOutput(out); },
                     scan.result(), console.outputIsTerminal());
    if (keys.sealed) opener.openSealedWith(*keys.sealed);
    // A line that comes in pieces is put together once, in room for the longest.
    opener.expectLinesUpTo(scan.longestLine());
    std::unique_ptr<ByteSource> file;
    if (spool) {
        spool->rewind();
    } else {
        file = console.openFile(*inv.operand, "file");
    }
    ByteSource& source = spool ? static_cast<ByteSource&>(*spool) : *file;
    while (const std::size_t n = source.read(chunk.data(), chunk.size())) opener.feed(std::string_view(chunk.data(), n));
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
    std::string bytes = keyFileBytes(keyText, inv.sealed);
    const ElAES::WipeOnExit wipeBytes(bytes);
    console.writeOutput(bytes);
    console.commitOutput();
    const std::string code = envelope::keyCheckCode(inv.sealed ? envelope::sealed::keyFromText(keyText)
                                                               : envelope::keyBlockFromText(keyText));
    console.writeError(std::string("mistlock: a new ") + (inv.sealed ? "sealed " : "") + "key file" +
                       (inv.output ? " \"" + *inv.output + "\"" : std::string()) +
                       " is written. Its key check code: " + code +
                       ".\nGive the file to your friend out of band, never through the messenger; both pick it "
                       "as the key file in the plug-in's settings, then compare the code by phone.\n" +
                       (inv.sealed ? "Its messages are sealed envelopes, which only Mistlock opens: give it only to a "
                                     "friend who runs Mistlock.\n"
                                   : ""));
    return Success;
}

int keyId(const Invocation& inv, Console& console) {
    KeyNotes notes;
    const envelope::MessageKeys keys = keysFor(inv, console, &notes);
    console.writeError(keyWarnings(notes, inv.codePage, false));
    if (notes.units == 0) console.writeError("mistlock: warning: the key is empty: the plug-in sends nothing under it.\n");
    if (keys.sealed) {
        console.writeError("mistlock: the key file is sealed: the code is that of its sealed key, under which its "
                           "messages are sealed, as the plug-in's about box shows it.\n");
    }
    console.writeOutput(envelope::keyCheckCode(keys.sealed ? *keys.sealed : keys.block) + "\n");
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
            case Command::Seal: return seal(inv, console, random);
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
