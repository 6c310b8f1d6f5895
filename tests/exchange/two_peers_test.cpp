// Two copies of the plug-in, each in its own messenger process with its own
// settings folder and the same key, exchange envelopes both ways.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/text_file.h"
#include "platform/utf8.h"
#include "tests/cli/cli_process.h"
#include "tests/support/messenger_process.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using test_messenger::TempFolder;
using testing_records::hex;
using testing_records::unhex;
using namespace messenger_process;

namespace {

// A key text that the code page can hold, since the password is stored in it.
std::u16string keyText() {
    return platform::ansiCodePage() == 1251 ? u"Ключ: correct horse battery staple"
                                            : u"Schlüssel: correct horse battery staple";
}

// What the user reads in the error reply: the default text as the code page carries it.
std::string errorPrefix() {
    return utf8::encode(platform::widen(platform::narrow(u"[Ошибка при расшифровке] Оригинальное сообщение:"))) + "\r\n";
}

std::string settingsFile(bool usePassword, const std::string& password, const std::string& keyFile) {
    return "on\r\n" + std::string(usePassword ? "pass_check" : "file_check") + "\r\n" + password + "\r\n" + keyFile +
           "\r\n";
}

// A peer that holds the key as a password, or as a key file in an encoding.
struct PeerSetup {
    const char* name;
    bool usePassword;
    platform::TextEncoding keyFileEncoding;
};

void preparePeer(const TempFolder& folder, const PeerSetup& setup) {
    const std::string password = platform::narrow(keyText());
    if (setup.usePassword) {
        folder.write("Mistlock.ini", settingsFile(true, password, ""));
    } else {
        folder.write("key.txt", platform::encodeText(keyText() + u"\r\nsecond line is not used\r\n", setup.keyFileEncoding));
        folder.write("Mistlock.ini", settingsFile(false, "", "key.txt"));
    }
    folder.write("MistlockWho.ini", "100\r\n200\r\n");
}

// The messages, as the raw bytes that the messenger carries in the code page.
std::vector<std::string> messages() {
    std::vector<std::string> out = {
        platform::narrow(u"Привет! Это зашифрованное сообщение."),
        "Caf\xE9 cr\xE8me br\xFBl\xE9" "e \xA9 \xBD",  // Latin-1 bytes, whatever the code page shows
        "Plain ASCII text, nothing special.",
        "x",
        std::string(15, 'a'),
        std::string(16, 'b'),
        std::string(17, 'c'),
    };
    std::string big;
    for (int i = 0; big.size() < 4000; ++i) big += static_cast<char>(0x20 + (i * 7) % 0xDF);  // every printable byte
    big.resize(4000);
    out.push_back(big);
    return out;
}

// Seals every message in peer `from` and opens the envelopes in peer `to`.
void exchange(const TempFolder& from, const TempFolder& to) {
    const auto originals = messages();
    std::string sendScript = "init " + from.hostPath() + "\n";
    for (const auto& m : originals) sendScript += "send 200 hex:" + hex(m) + "\n";
    sendScript += "finalise\n";
    std::vector<std::string> envelopes;
    for (const auto& reply : ofType(runMessenger(sendScript, testCodePage()), "reply")) {
        if (reply["event"] != "send") continue;
        ASSERT_EQ(reply["kind"], "data") << reply.raw;
        EXPECT_EQ(unhex(reply["original_hex"]), originals[envelopes.size()]);
        envelopes.push_back(unhex(reply["text_hex"]));
    }
    ASSERT_EQ(envelopes.size(), originals.size());

    std::string receiveScript = "init " + to.hostPath() + "\n";
    for (const auto& e : envelopes) {
        ASSERT_EQ(e.rfind("#MSTLK:", 0), 0u);
        receiveScript += "recv hex:" + hex(e) + "\n";
    }
    receiveScript += "finalise\n";
    std::size_t index = 0;
    for (const auto& reply : ofType(runMessenger(receiveScript, testCodePage()), "reply")) {
        if (reply["event"] != "recv") continue;
        ASSERT_EQ(reply["kind"], "data") << reply.raw;
        EXPECT_EQ(reply["text_hex"], hex(originals[index])) << "message " << index;
        ++index;
    }
    EXPECT_EQ(index, originals.size());
}

class TwoPeers : public ::testing::TestWithParam<PeerSetup> {};

TEST_P(TwoPeers, ExchangeEnvelopesBothWays) {
    TempFolder alice, bob;
    preparePeer(alice, PeerSetup{"password", true, platform::TextEncoding::Ansi});
    preparePeer(bob, GetParam());
    exchange(alice, bob);
    exchange(bob, alice);
}

INSTANTIATE_TEST_SUITE_P(KeySources, TwoPeers,
                         ::testing::Values(PeerSetup{"password", true, platform::TextEncoding::Ansi},
                                           PeerSetup{"keyFileUtf8", false, platform::TextEncoding::Utf8},
                                           PeerSetup{"keyFileUtf16LE", false, platform::TextEncoding::Utf16LE},
                                           PeerSetup{"keyFileUtf16BE", false, platform::TextEncoding::Utf16BE},
                                           PeerSetup{"keyFileAnsi", false, platform::TextEncoding::Ansi}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TwoPeersEdge, EmptyMessageSealsToTheBareLengthAndDoesNotOpen) {
    TempFolder alice, bob;
    preparePeer(alice, {"password", true, platform::TextEncoding::Ansi});
    preparePeer(bob, {"password", true, platform::TextEncoding::Ansi});
    auto sent = ofType(runMessenger("init " + alice.hostPath() + "\nsend 100 hex:\nfinalise\n", testCodePage()), "reply");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1]["text"], "#MSTLK:00000000");
    auto received =
        ofType(runMessenger("init " + bob.hostPath() + "\nrecv #MSTLK:00000000\nfinalise\n", testCodePage()), "reply");
    EXPECT_EQ(received[1]["text"], errorPrefix() + "#MSTLK:00000000");
}

TEST(TwoPeersEdge, WrongPasswordShowsTheErrorInsteadOfGarbage) {
    TempFolder alice, mallory;
    preparePeer(alice, {"password", true, platform::TextEncoding::Ansi});
    mallory.write("Mistlock.ini", settingsFile(true, "not the password", ""));
    auto sent = ofType(runMessenger("init " + alice.hostPath() + "\nsend 100 Hello, Bob!\nfinalise\n", testCodePage()),
                       "reply");
    const std::string envelope = unhex(sent[1]["text_hex"]);
    auto received = ofType(
        runMessenger("init " + mallory.hostPath() + "\nrecv hex:" + hex(envelope) + "\nfinalise\n", testCodePage()), "reply");
    ASSERT_EQ(received[1]["kind"], "data");
    EXPECT_EQ(received[1]["text"], errorPrefix() + envelope);
}

// Alice's Windows runs 1252, Bob's 1251, or the other way round: each plug-in
// in its own messenger process on its own code page (under Windows the
// sender is mistlock, see below). Every message arrives, converted into the
// receiver's code page: sealing leaves zero fill in every envelope, 16 and 32
// bytes included, and the fill tells which code page's reading is the
// sender's.
TEST(TwoPeersEdge, PeersOnDifferentCodePagesReadEachOther) {
    TempFolder sender, receiver;
    for (const auto* f : {&sender, &receiver}) {
        f->write("Mistlock.ini", settingsFile(true, "correct horse battery staple", ""));
        f->write("MistlockWho.ini", "100\r\n");
    }
    struct Direction {
        unsigned from, to;
        std::vector<std::pair<std::string, std::string>> sentAndShown;  // raw bytes sent, UTF-8 shown
    };
    const Direction directions[] = {
        {1252, 1251,
         {{"Hello, Bob!", "Hello, Bob!"},
          {"Caf\xE9 \x80" "5, na\xEFve \xAB" "ok\xBB", "Caf? €5, na?ve «ok»"},
          {std::string(15, 'a'), std::string(15, 'a')},
          {std::string(17, 'c'), std::string(17, 'c')},
          {std::string(16, 'b'), std::string(16, 'b')}}},
        {1251, 1252,
         {{"Hello, Alice!", "Hello, Alice!"},
          {"\xCF\xF0\xE8\xE2\xE5\xF2 \x88" "5 \xAB" "ok\xBB", "?????? €5 «ok»"},
          {std::string(1, 'x'), "x"},
          {std::string(33, 'q'), std::string(33, 'q')},
          {std::string(32, 'b'), std::string(32, 'b')}}},
    };
    for (const auto& d : directions) {
        SCOPED_TRACE(std::to_string(d.from) + " to " + std::to_string(d.to));
        std::vector<std::string> sent;
        for (const auto& m : d.sentAndShown) sent.push_back(m.first);
        std::vector<std::string> envelopes;
#ifdef _WIN32
        // A Windows process runs under the code page of its locale, which is
        // the test's: each direction runs in the test run of its receiver, and
        // mistlock seals for the sender's code page with the same envelope code.
        if (d.to != testCodePage()) continue;
        for (const auto& m : sent) {
            const auto r = testing_cli::runCli(
                {"seal", "--password", "correct horse battery staple", "--codepage", std::to_string(d.from), "hex:" + hex(m)});
            ASSERT_EQ(r.status, 0) << r.err;
            envelopes.push_back(r.out.substr(0, r.out.size() - 1));
        }
#else
        std::string sendScript = "init " + sender.hostPath() + "\n";
        for (const auto& m : sent) sendScript += "send 100 hex:" + hex(m) + "\n";
        for (const auto& reply : ofType(runMessenger(sendScript + "finalise\n", d.from), "reply")) {
            if (reply["event"] == "send") envelopes.push_back(unhex(reply["text_hex"]));
        }
#endif
        ASSERT_EQ(envelopes.size(), sent.size());
        std::string script = "init " + receiver.hostPath() + "\n";
        for (const auto& e : envelopes) script += "recv hex:" + hex(e) + "\n";
        std::vector<std::string> shown;
        for (const auto& reply : ofType(runMessenger(script + "finalise\n", d.to), "reply")) {
            if (reply["event"] == "recv") shown.push_back(reply["text"]);
        }
        ASSERT_EQ(shown.size(), sent.size());
        for (std::size_t i = 0; i < d.sentAndShown.size(); ++i) EXPECT_EQ(shown[i], d.sentAndShown[i].second) << i;
    }
}

}  // namespace
