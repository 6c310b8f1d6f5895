// The mistlock program and the plug-in, each in its own process, exchange
// envelopes both ways: the plug-in runs in the reference messenger with its
// settings folder, mistlock is given the same key on its command line. Runs
// under both code pages; mistlock is told the one the plug-in's system uses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "platform/utf8.h"
#include "tests/cli/cli_process.h"
#include "tests/support/messenger_process.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using testing_cli::runCli;
using test_messenger::TempFolder;
using messenger_process::ofType;
using messenger_process::runMessenger;
using messenger_process::testCodePage;
using testing_records::hex;
using testing_records::unhex;

namespace {

// The reference messenger's scripts are named from std::rand(): seeded apart, the
// two code-page runs of this program, which may run at once, and other test
// programs do not write the same script file.
const bool seeded = (std::srand(static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count())),
                     true);

std::string codePageArg() { return std::to_string(testCodePage()); }

// A key text the code page can hold, since the plug-in stores the password in it.
std::u16string keyText() {
    return testCodePage() == 1251 ? u"Ключ: correct horse battery staple" : u"Schlüssel: correct horse battery staple";
}

// A text of the code page beyond ASCII, as typed on a UTF-8 terminal.
std::string nationalText() {
    return testCodePage() == 1251 ? "Привет! Ёлка, щука и «кавычки» — €5" : "Grüße aus Köln! Æsir, «ça» — €5";
}

// A peer whose plug-in holds the key as its password.
void preparePeer(const TempFolder& folder) {
    folder.write("Mistlock.ini", "on\r\npass_check\r\n" + platform::narrow(keyText()) + "\r\n\r\n");
    folder.write("MistlockWho.ini", "100\r\n200\r\n");
}

// The messages as raw bytes of the code page.
std::vector<std::string> messages() {
    std::string everyByte;
    for (int i = 1; i < 256; ++i) everyByte += static_cast<char>(i);
    return {
        "x",
        std::string(15, 'a'),
        std::string(16, 'b'),
        std::string(17, 'c'),
        platform::narrowCodePage(testCodePage(), utf8::decode(nationalText()).value()),
        "two\r\nlines",
        everyByte,
        std::string(3000, 'q') + "end",
    };
}

// What the plug-in sends for each message.
std::vector<std::string> pluginEnvelopes(const TempFolder& peer, const std::vector<std::string>& texts) {
    std::string script = "init " + peer.hostPath() + "\n";
    for (const auto& m : texts) script += "send 200 hex:" + hex(m) + "\n";
    std::vector<std::string> envelopes;
    for (const auto& reply : ofType(runMessenger(script + "finalise\n", testCodePage()), "reply")) {
        if (reply["event"] != "send") continue;
        EXPECT_EQ(reply["kind"], "data") << reply.raw;
        envelopes.push_back(unhex(reply["text_hex"]));
    }
    EXPECT_EQ(envelopes.size(), texts.size());
    return envelopes;
}

// What the plug-in opens each envelope to (its reply texts, raw).
std::vector<std::string> pluginOpens(const TempFolder& peer, const std::vector<std::string>& envelopes) {
    std::string script = "init " + peer.hostPath() + "\n";
    for (const auto& e : envelopes) script += "recv hex:" + hex(e) + "\n";
    std::vector<std::string> texts;
    for (const auto& reply : ofType(runMessenger(script + "finalise\n", testCodePage()), "reply")) {
        if (reply["event"] == "recv") texts.push_back(unhex(reply["text_hex"]));
    }
    EXPECT_EQ(texts.size(), envelopes.size());
    return texts;
}

// The ways mistlock can be given the peer's key.
struct KeyOption {
    const char* name;
    std::vector<std::string> (*args)(const TempFolder& folder);
};

const KeyOption keyOptions[] = {
    {"password", [](const TempFolder&) { return std::vector<std::string>{"--password", utf8::encode(keyText())}; }},
    {"key file, UTF-16LE",
     [](const TempFolder& f) {
         f.write("key.txt", platform::encodeText(keyText() + u"\r\nunused", platform::TextEncoding::Utf16LE));
         return std::vector<std::string>{"--key-file", f.file("key.txt")};
     }},
    {"key file, code page",
     [](const TempFolder& f) {
         f.write("key.txt", platform::narrow(keyText()) + "\r\n");
         return std::vector<std::string>{"--key-file", f.file("key.txt")};
     }},
};

std::vector<std::string> command(std::vector<std::string> head, const std::vector<std::string>& key) {
    head.insert(head.end(), key.begin(), key.end());
    head.push_back("--codepage");
    head.push_back(codePageArg());
    return head;
}

TEST(Interop, PluginSealsMistlockOpens) {
    TempFolder peer, own;
    preparePeer(peer);
    const auto texts = messages();
    const auto envelopes = pluginEnvelopes(peer, texts);
    ASSERT_EQ(envelopes.size(), texts.size());
    for (const auto& option : keyOptions) {
        SCOPED_TRACE(option.name);
        const auto key = option.args(own);
        // Every message through open --hex with the first key option, two with the others.
        const std::size_t count = &option == &keyOptions[0] ? texts.size() : 2;
        for (std::size_t i = 0; i < count; ++i) {
            const auto r = runCli(command({"open", "--hex", envelopes[i]}, key));
            // Sealing leaves zero fill in every envelope, 16 bytes too: each is verified.
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, hex(texts[i]) + "\n") << "message " << i;
        }
    }
}

TEST(Interop, MistlockSealsPluginOpens) {
    TempFolder peer, own;
    preparePeer(peer);
    const auto texts = messages();
    for (const auto& option : keyOptions) {
        SCOPED_TRACE(option.name);
        const auto key = option.args(own);
        const std::size_t count = &option == &keyOptions[0] ? texts.size() : 2;
        std::vector<std::string> envelopes;
        for (std::size_t i = 0; i < count; ++i) {
            // Half from the command line, half from standard input.
            const auto r = i % 2 ? runCli(command({"seal", "hex:" + hex(texts[i])}, key))
                                 : runCli(command({"seal"}, key), "hex:" + hex(texts[i]) + "\r\n");
            EXPECT_EQ(r.status, 0) << r.err;
            ASSERT_EQ(r.out.rfind("#MSTLK:", 0), 0u) << r.out;
            ASSERT_EQ(r.out.back(), '\n');
            envelopes.push_back(r.out.substr(0, r.out.size() - 1));
        }
        const auto opened = pluginOpens(peer, envelopes);
        for (std::size_t i = 0; i < opened.size(); ++i) EXPECT_EQ(hex(opened[i]), hex(texts[i])) << "message " << i;
    }
}

TEST(Interop, TerminalTextIsTheTextTheMessengerShows) {
    TempFolder peer;
    preparePeer(peer);
    const std::vector<std::string> key = {"--password", utf8::encode(keyText())};

    // Typed in UTF-8 on one side, shown by the messenger on the other.
    const auto sealed = runCli(command({"seal", nationalText()}, key));
    ASSERT_EQ(sealed.status, 0) << sealed.err;
    EXPECT_EQ(sealed.err, "");
    const auto replies =
        ofType(runMessenger("init " + peer.hostPath() + "\nrecv " + sealed.out + "finalise\n", testCodePage()), "reply");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1]["text"], nationalText());

    // Typed in the messenger, read in UTF-8 on the terminal.
    const auto sent = ofType(
        runMessenger("init " + peer.hostPath() + "\nsend 100 " + nationalText() + "\nfinalise\n", testCodePage()), "reply");
    ASSERT_EQ(sent.size(), 3u);
    const auto opened = runCli(command({"open"}, key), sent[1]["text"] + "\n");
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(opened.out, nationalText() + "\n");
}

TEST(Interop, OpenLogReadsAHistoryOfPluginEnvelopesInEitherEncoding) {
    TempFolder peer, own, stranger;
    preparePeer(peer);
    stranger.write("Mistlock.ini", "on\r\npass_check\r\nsomebody else\r\n\r\n");
    stranger.write("MistlockWho.ini", "200\r\n");
    const auto texts = messages();
    const auto envelopes = pluginEnvelopes(peer, texts);
    ASSERT_EQ(envelopes.size(), texts.size());
    const std::string foreign = pluginEnvelopes(stranger, {"not for us"}).at(0);

    const std::string national = nationalText();
    const std::string nationalBytes = texts[4];
    // Each line: a stamp, a name in the history's encoding, an envelope, a tail.
    auto history = [&](bool utf8History) {
        std::string h = utf8History ? "\xEF\xBB\xBF" : "";
        for (std::size_t i = 0; i < envelopes.size(); ++i) {
            h += "[10:0" + std::to_string(i) + "] " + (utf8History ? national : nationalBytes) + ": " + envelopes[i] +
                 " (" + std::to_string(i) + ")\r\n";
        }
        return h + "[11:00] eve: " + foreign + "\r\n";
    };
    std::string expected;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        expected += "[10:0" + std::to_string(i) + "] " + national + ": " +
                    utf8::encode(platform::widenCodePage(testCodePage(), texts[i])) + " (" + std::to_string(i) + ")\r\n";
    }
    expected += "[11:00] eve: " + foreign + "\r\n";

    for (const bool utf8History : {true, false}) {
        SCOPED_TRACE(utf8History ? "UTF-8 history" : "code-page history");
        own.write("history.txt", history(utf8History));
        const auto fromFile = runCli(command({"open-log", own.file("history.txt")}, {"--password", utf8::encode(keyText())}));
        EXPECT_EQ(fromFile.status, 1);
        EXPECT_EQ(fromFile.out, expected);
        EXPECT_NE(fromFile.err.find(std::to_string(texts.size()) + " envelopes opened, 1 envelope could not be opened"),
                  std::string::npos)
            << fromFile.err;
        EXPECT_NE(fromFile.err.find("line 9: The envelope does not open with this key."), std::string::npos)
            << fromFile.err;

        const auto fromInput =
            runCli(command({"open-log"}, {"--password", utf8::encode(keyText())}), history(utf8History));
        EXPECT_EQ(fromInput.out, expected);
    }
}

TEST(Interop, ExitStatusAndOneLineReasonFromTheProgram) {
    TempFolder peer;
    preparePeer(peer);
    const std::string envelope = pluginEnvelopes(peer, {"Hello, Bob!"}).at(0);

    const auto good = runCli(command({"open", envelope}, {"--password", utf8::encode(keyText())}));
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "Hello, Bob!\n");

    const auto wrong = runCli(command({"open", envelope}, {"--password", "not the password"}));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, "mistlock: The envelope does not open with this key.\n");

    const auto usage = runCli({"open", "--frobnicate"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err, "mistlock: Unknown option \"--frobnicate\".\nTry 'mistlock --help'.\n");

    // Run from a script, with no terminal to ask on.
    const auto noKey = runCli({"open", envelope});
    EXPECT_EQ(noKey.status, 2);
    EXPECT_NE(noKey.err.find("no terminal to ask for the password"), std::string::npos) << noKey.err;

    const auto help = runCli({"open-log", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: mistlock open-log KEY", 0), 0u) << help.out;
}

// A key from keygen, handed to a peer whose plug-in picks it as its key file:
// the file is UTF-16 with its mark, so both read the same 32-byte key block
// on any code page; mistlock key-id and the plug-in's about box show the same
// check code, and envelopes go both ways.
TEST(Interop, AKeyFromKeygenIsSharedAndCheckedByItsCode) {
    TempFolder own, peer;
    const std::string path = testing_cli::programPath(own.file("friend.key"));
    const auto made = runCli({"keygen", "-o", path});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string bytes = own.read("friend.key");
    ASSERT_GE(bytes.size(), 2u + 64u);
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    // The first line: 32 units, so its key block is the first 16 units' 32 bytes,
    // none of them a line end or a surrogate.
    ASSERT_GE(units.size(), 32u);
    EXPECT_EQ(units.find_first_of(std::u16string(u"\r\n\0", 3)), 32u);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_FALSE(units[i] >= 0xD800 && units[i] <= 0xDFFF) << i;

    // Never overwritten; another run, another key.
    const auto again = runCli({"keygen", "-o", path});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
    EXPECT_EQ(own.read("friend.key"), bytes);
    ASSERT_EQ(runCli({"keygen", "-o", testing_cli::programPath(own.file("second.key"))}).status, 0);
    EXPECT_NE(own.read("second.key").substr(0, 34), bytes.substr(0, 34));

    const std::vector<std::string> keyArgs = {"--key-file", path};
    const auto id = runCli(command({"key-id"}, keyArgs));
    ASSERT_EQ(id.status, 0) << id.err;
    ASSERT_EQ(id.out.size(), 15u) << id.out;  // "dddd dddd dddd\n"
    EXPECT_NE(made.err.find(id.out.substr(0, 14)), std::string::npos) << made.err;

    peer.write("friend.key", bytes);
    peer.write("Mistlock.ini", "on\r\nfile_check\r\n\r\nfriend.key\r\n");
    peer.write("MistlockWho.ini", "200\r\n");
    const auto boxes = ofType(runMessenger("init " + peer.hostPath() + "\nabout\nfinalise\n", testCodePage()), "message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0]["text"].find("Key check code: " + id.out.substr(0, 14)), std::string::npos) << boxes[0]["text"];

    const auto texts = messages();
    const auto envelopes = pluginEnvelopes(peer, texts);
    ASSERT_EQ(envelopes.size(), texts.size());
    std::vector<std::string> sealed;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto r = runCli(command({"open", "--hex", envelopes[i]}, keyArgs));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, hex(texts[i]) + "\n") << "message " << i;
        const auto s = runCli(command({"seal", "hex:" + hex(texts[i])}, keyArgs));
        ASSERT_EQ(s.status, 0) << s.err;
        sealed.push_back(s.out.substr(0, s.out.size() - 1));
    }
    const auto opened = pluginOpens(peer, sealed);
    for (std::size_t i = 0; i < opened.size(); ++i) EXPECT_EQ(hex(opened[i]), hex(texts[i])) << "message " << i;
}

// A sealed key file from keygen --sealed, shared the same way: the plug-in
// seals every message into a sealed envelope of its own (never the same
// twice) that mistlock opens, and opens what mistlock seals; key-id and the
// about box give the sealed key's code and both say that the file is sealed.
TEST(Interop, ASealedKeyFileSealsBothWays) {
    TempFolder own, peer;
    const std::string path = testing_cli::programPath(own.file("friend.key"));
    const auto made = runCli({"keygen", "--sealed", "-o", path});
    ASSERT_EQ(made.status, 0) << made.err;
    peer.write("friend.key", own.read("friend.key"));
    peer.write("Mistlock.ini", "on\r\nfile_check\r\n\r\nfriend.key\r\n");
    peer.write("MistlockWho.ini", "200\r\n");
    const std::vector<std::string> keyArgs = {"--key-file", path};

    const auto id = runCli(command({"key-id"}, keyArgs));
    ASSERT_EQ(id.status, 0) << id.err;
    EXPECT_NE(id.err.find("the key file is sealed"), std::string::npos) << id.err;
    EXPECT_NE(made.err.find("Its key check code: " + id.out.substr(0, 14)), std::string::npos) << made.err;
    const auto boxes = ofType(runMessenger("init " + peer.hostPath() + "\nabout\nfinalise\n", testCodePage()), "message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0]["text"].find("Sealed key file"), std::string::npos) << boxes[0]["text"];
    EXPECT_NE(boxes[0]["text"].find("Key check code: " + id.out.substr(0, 14)), std::string::npos) << boxes[0]["text"];

    std::vector<std::string> texts = messages();
    texts.push_back(texts[0]);  // the same message again
    const auto envelopes = pluginEnvelopes(peer, texts);
    ASSERT_EQ(envelopes.size(), texts.size());
    EXPECT_NE(envelopes.front(), envelopes.back());
    std::vector<std::string> sealed;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(envelopes[i].rfind("#MSTLK2:", 0), 0u) << envelopes[i];
        const auto r = runCli(command({"open", "--hex", envelopes[i]}, keyArgs));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, hex(texts[i]) + "\n") << "message " << i;
        const auto s = runCli(command({"seal", "hex:" + hex(texts[i])}, keyArgs));
        ASSERT_EQ(s.status, 0) << s.err;
        ASSERT_EQ(s.out.rfind("#MSTLK2:", 0), 0u) << s.out;
        sealed.push_back(s.out.substr(0, s.out.size() - 1));
    }
    const auto opened = pluginOpens(peer, sealed);
    for (std::size_t i = 0; i < opened.size(); ++i) EXPECT_EQ(hex(opened[i]), hex(texts[i])) << "message " << i;
}

// Without --codepage mistlock.exe takes the code page the plug-in takes,
// Windows' ANSI one; elsewhere there is none, and 1251 stands in. A key file
// without byte-order mark and a message beyond ASCII are then read alike.
TEST(Interop, WithoutCodepageTheSystemsCodePageCounts) {
#ifdef _WIN32
    const unsigned expected = testCodePage();
#else
    const unsigned expected = 1251;
#endif
    TempFolder peer;
    preparePeer(peer);
    peer.write("own.key", platform::narrowCodePage(testCodePage(), utf8::decode(nationalText()).value()) + "\r\n");
    const std::string keyFile = testing_cli::programPath(peer.file("own.key"));
    const auto id = runCli({"key-id", "--key-file", keyFile});
    ASSERT_EQ(id.status, 0) << id.err;
    EXPECT_EQ(id.out, runCli({"key-id", "--key-file", keyFile, "--codepage", std::to_string(expected)}).out);
    const std::vector<std::string> key = {"--password", utf8::encode(keyText())};
    std::vector<std::string> seal = {"seal", nationalText()};
    seal.insert(seal.end(), key.begin(), key.end());
    const auto sealed = runCli(seal);
    ASSERT_EQ(sealed.status, 0) << sealed.err;
    if (expected != testCodePage()) return;

    // The about box of a plug-in with the same key file, and the text it opens.
    peer.write("Mistlock.ini", "off\r\nfile_check\r\n\r\nown.key\r\n");
    const auto boxes = ofType(runMessenger("init " + peer.hostPath() + "\nabout\nfinalise\n", testCodePage()), "message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0]["text"].find("Key check code: " + id.out.substr(0, 14)), std::string::npos) << boxes[0]["text"];
    preparePeer(peer);
    const auto replies =
        ofType(runMessenger("init " + peer.hostPath() + "\nrecv " + sealed.out + "finalise\n", testCodePage()), "reply");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1]["text"], nationalText());
}

// A fixed key file whose key block is the bytes 0 to 31: key-id and the about
// box give the code worked out for it with Python's hashlib (see
// tests/envelope/key_check_test.cpp), natively and under Wine alike.
TEST(Interop, KeyIdAndTheAboutBoxGiveTheKnownCode) {
    TempFolder folder;
    std::u16string keyLine;
    for (int i = 0; i < 16; ++i) keyLine += static_cast<char16_t>(2 * i | (2 * i + 1) << 8);
    keyLine += u"0123456789abcdef";
    folder.write("fixed.key", platform::encodeText(keyLine + u"\r\n", platform::TextEncoding::Utf16LE));
    folder.write("Mistlock.ini", "off\r\nfile_check\r\n\r\nfixed.key\r\n");
    const auto id = runCli(command({"key-id", "--key-file", testing_cli::programPath(folder.file("fixed.key"))}, {}));
    EXPECT_EQ(id.status, 0) << id.err;
    EXPECT_EQ(id.out, "2130 9810 2637\n");
    const auto boxes = ofType(runMessenger("init " + folder.hostPath() + "\nabout\nfinalise\n", testCodePage()), "message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0]["text"].find("Key check code: 2130 9810 2637"), std::string::npos) << boxes[0]["text"];
}

}  // namespace
