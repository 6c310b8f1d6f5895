// The two message events through pluginFun, with the test playing the
// messenger: which messages are sealed, what a received envelope opens to,
// and the replies and message boxes for everything that can go wrong.
#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "settings/setpassform.h"
#include "tests/envelope/envelope_reference.h"
#include "tests/support/test_messenger.h"

using namespace envelope_test;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

namespace {

const std::u16string kWarning = u"Внимание";
const std::u16string kKeyNotFound = u"Файл с ключём не найден. Проверьте заданный путь. Отправка отменена.";
const std::u16string kKeyNotFound2 =
    u"Файл с ключём не найден. Проверьте заданный путь. Сообщение будет отображено в неизменённом виде.";
const std::u16string kCryptError = u"Ошибка при шифровании сообщения, отправка отменена.";
const std::u16string kOriginalMsgError = u"[Ошибка при расшифровке] Оригинальное сообщение:";
const std::u16string kListMissing =
    u"Файл со списком уинов (MistlockWho.ini) пропал из папки настроек, а этот контакт есть в списке. "
    u"Отправка отменена. Откройте настройки шифрования и нажмите ОК, чтобы записать список снова, или выключите "
    u"шифрование.";
const std::u16string kEmptyPassword =
    u"Пароль пуст: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка отменена. Введите пароль в "
    u"настройках шифрования.";
const std::u16string kEmptyKeyLine =
    u"Первая строка файла с ключом пуста: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка "
    u"отменена. Запишите ключ в первую строку файла.";
const std::u16string kKeyFileUnusable =
    u"Первая строка файла с ключом не годится как ключ (причина ниже): зашифрованное ею сообщение мог бы прочесть "
    u"посторонний или не смог бы прочесть собеседник. Отправка отменена.";

const std::int32_t kUin = 12345;
// "secret": 6 units, so its first 6 UTF-16LE bytes.
const ElAES::Key kSecretKey = keyOf("730065006300");
const ElAES::Key kZeroKey{};
const std::string kCancel = std::string("\x01\x00\x00\x00\x04", 5);

std::string ini(const std::string& onOff, const std::string& source, const std::string& password,
                const std::string& keyPath = "") {
    return onOff + "\r\n" + source + "\r\n" + password + "\r\n" + keyPath + "\r\n";
}

// A text of the built-in translations in the system code page: Windows-1251
// has А..я at C0..FF; Windows-1252 has no Cyrillic and puts its default
// character in its place.
std::string inAnsi(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (platform::ansiCodePage() == 1251 && c >= 0x410 && c <= 0x44F) {
            out += static_cast<char>(0xC0 + (c - 0x410));
        } else if (platform::ansiCodePage() == 1252 && c >= 0x410 && c <= 0x44F) {
            out += '?';
        } else {
            ADD_FAILURE() << "no expectation for U+" << std::hex << static_cast<unsigned>(c);
        }
    }
    return out;
}

std::string errorTextFor(const std::string& received) { return inAnsi(kOriginalMsgError) + "\r\n" + received; }

using Boxes = std::vector<std::pair<std::u16string, std::u16string>>;  // caption, text

class MessageEvents : public ::testing::Test {
protected:
    TempFolder folder;
    TestMessenger plugin;  // finalised before the folder goes

    void start(const std::string& settings, const char* uinList = "12345\r\n") {
        folder.write("Mistlock.ini", settings);
        if (uinList) folder.write("MistlockWho.ini", uinList);
        ASSERT_NE(plugin.initialise(folder.hostPath()), nullptr);
        ASSERT_TRUE(plugin.boxes.boxes().empty()) << "the settings did not load cleanly";
    }
    const void* send(const std::string& text, std::int32_t uin = kUin) { return plugin.call(messageToSend(uin, text)); }
    const void* receive(const std::string& text, std::int32_t uin = kUin) {
        return plugin.call(messageReceived(text, uin));
    }
    Boxes boxes() const {
        Boxes out;
        for (const auto& b : plugin.boxes.boxes()) {
            EXPECT_FALSE(b.error);
            out.emplace_back(b.caption, b.text);
        }
        return out;
    }
    // The same with each text cut before the detail that follows a blank
    // line, which must name `file`.
    Boxes boxesNaming(const char* file) const {
        Boxes out = boxes();
        for (auto& [caption, text] : out) {
            const auto blank = text.find(u"\r\n\r\n");
            if (blank == std::u16string::npos) continue;
            EXPECT_NE(text.find(platform::widen(file ? file : "?"), blank), std::u16string::npos) << "names no file";
            text.resize(blank);
        }
        return out;
    }
    // The envelope of a data reply to a message to send, checked for its shape.
    std::string envelopeOf(const void* reply, const std::string& sent) {
        EXPECT_NE(reply, nullptr);
        if (!reply) return {};
        EXPECT_EQ(bytesOf(reply)[4], '\x02');
        const std::string env = replyString(reply, 0);
        EXPECT_EQ(replyString(reply, 1), sent);
        EXPECT_EQ(static_cast<std::size_t>(readInt32(reply, 0)), 1 + 4 + env.size() + 4 + sent.size());
        return env;
    }
};

// ---- Sending ----------------------------------------------------------------

TEST_F(MessageEvents, WorkedExampleHi) {
    start(ini("on", "pass_check", "secret"));
    const void* reply = send("Hi");
    const std::string env = envelopeOf(reply, "Hi");
    EXPECT_EQ(readInt32(reply, 0), static_cast<std::int32_t>(11 + env.size()));
    EXPECT_EQ(env.substr(0, 15), "#MSTLK:02000000");
    EXPECT_EQ(env, envelopeFor("Hi", kSecretKey));
    EXPECT_GE(env.size(), 47u);
    EXPECT_LE(env.size(), 111u);

    EXPECT_EQ(hex(bytesOf(receive(env))), "070000000202000000" "4869");
    EXPECT_TRUE(boxes().empty());
}

TEST_F(MessageEvents, SealsTheBytesAsTheEventCarriedThem) {
    start(ini("on", "pass_check", "secret"));
    const struct {
        std::string text;
        std::uint32_t declared;  // with the zero bytes of checked sealing
    } cases[] = {
        {std::string("a\0\xFF\x98\xC0 z\r\n", 9), 9},
        {"#MSTLK:00000000", 17},  // already an envelope: sealed like any other text
        {std::string(1, '\0'), 1},
        {sampleMessage(127), 129},
        {sampleMessage(4000), 4001},
        {allByteValues(), 257},
    };
    for (const auto& [text, declared] : cases) {
        const std::string env = envelopeOf(send(text), text);
        EXPECT_EQ(env, sealedEnvelopeFor(text, kSecretKey)) << "L=" << text.size();
        if (declared < 128) {
            EXPECT_EQ(env.substr(kMarker.size(), 8), hex(int32(static_cast<std::int32_t>(declared))));
        }
        const std::string payload = payloadOfEnvelope(env);
        ASSERT_EQ(payload.size(), 4 + 16 * ((declared + 15) / 16));
        std::string plain = ecb(payload.substr(4), kSecretKey, false);
        EXPECT_EQ(plain.substr(0, text.size()), text);
        EXPECT_EQ(plain.substr(text.size()), std::string(plain.size() - text.size(), '\0'));
    }
    EXPECT_TRUE(boxes().empty());
}

TEST(MessageEventsGates, WhichMessagesAreSealed) {
    struct Case {
        const char* what;
        const char* onOff;
        const char* uinList;  // null: no list file
        std::int32_t uin;
        bool sealed;
        bool heldBack = false;
    } cases[] = {
        {"listed", "on", "12345\r\n", kUin, true},
        {"switch off", "off", "12345\r\n", kUin, false},
        // The file gone while the dialog lists the contact: it is not a fresh
        // install, so the message does not leave.
        {"no list file", "on", nullptr, kUin, false, true},
        {"no list file, not in the dialog's list", "on", nullptr, 999, false},
        {"empty list", "on", "", kUin, false},
        {"not listed", "on", "111\r\n222\r\n", kUin, false},
        {"a later line", "on", "111\r\n12345\r\n", kUin, true},
        {"last line without a break", "on", "111\r\n12345", kUin, true},
        {"trailing blank", "on", "12345 \r\n", kUin, false},
        {"leading blank", "on", " 12345\r\n", kUin, false},
        {"leading zero", "on", "012345\r\n", kUin, false},
        {"plus sign", "on", "+12345\r\n", kUin, false},
        {"negative with minus", "on", "-5\r\n", -5, true},
        {"negative without minus", "on", "5\r\n", -5, false},
        {"most negative", "on", "-2147483648\r\n", INT_MIN, true},
        {"-1 written unsigned", "on", "4294967295\r\n", -1, false},
        {"zero", "on", "0\r\n", 0, true},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        folder.write("Mistlock.ini", ini(c.onOff, "pass_check", "secret"));
        if (c.uinList) folder.write("MistlockWho.ini", c.uinList);
        TestMessenger plugin;
        plugin.initialise(folder.hostPath());
        if (!c.uinList) setpassform::setpass->Memo1.setText(u"12345");
        const void* reply = plugin.call(messageToSend(c.uin, "Hi"));
        if (c.sealed) {
            ASSERT_NE(reply, nullptr) << c.what;
            EXPECT_EQ(replyString(reply, 0), envelopeFor("Hi", kSecretKey)) << c.what;
        } else if (c.heldBack) {
            ASSERT_NE(reply, nullptr) << c.what;
            EXPECT_EQ(bytesOf(reply), kCancel) << c.what;
        } else {
            EXPECT_EQ(reply, nullptr) << c.what;
        }
        const std::size_t boxesExpected = c.heldBack ? 1 : 0;
        ASSERT_EQ(plugin.boxes.boxes().size(), boxesExpected) << c.what;
        if (c.heldBack) {
            EXPECT_EQ(plugin.boxes.boxes()[0].text, kListMissing) << c.what;
        }
    }
}

TEST_F(MessageEvents, SendingWithAKeyFile) {
    // A key file of each kind; null bytes: no file at all.
    struct Case {
        const char* what;
        const char* file;
        std::string bytes;
        ElAES::Key key;       // when sealed
        bool sealed;
        Boxes shown;
    } cases[] = {
        {"UTF-8 key file", "k1.key", dataFile("key_utf8_bom.txt"), keyOf("1A043B044E0447042D"), true, {}},
        {"empty first line", "k2.key", "\r\nsecond", {}, false, {{kWarning, kEmptyKeyLine}}},
        {"missing", nullptr, "", {}, false, {{kWarning, kKeyNotFound}}},
        {"0 bytes", "k4.key", "", {}, false, {{kWarning, kEmptyKeyLine}}},
        {"mark only", "k5.key", "\xEF\xBB\xBF", {}, false, {{kWarning, kEmptyKeyLine}}},
        {"NUL first", "k6.key", std::string("\0k", 2), {}, false, {{kWarning, kKeyFileUnusable}}},
        {"bad UTF-8", "k7.key", "\xEF\xBB\xBFk\xC0\r\n", {}, false, {{kWarning, kKeyFileUnusable}}},
    };
    start(ini("on", "file_check", ""));
    for (const auto& c : cases) {
        plugin.boxes.clear();
        if (c.file) folder.write(c.file, c.bytes);
        setpassform::setpass->Edit2.setText(platform::widen(c.file ? c.file : "absent.key"));
        const void* reply = send("Hi");
        ASSERT_NE(reply, nullptr) << c.what;
        if (c.sealed) {
            EXPECT_EQ(replyString(reply, 0), envelopeFor("Hi", c.key)) << c.what;
        } else {
            EXPECT_EQ(bytesOf(reply), kCancel) << c.what;
        }
        EXPECT_EQ(boxesNaming(c.file), c.shown) << c.what;
    }
}

TEST_F(MessageEvents, DialogEditsCountForTheNextMessageBeforeAnySave) {
    const std::string settings = ini("on", "pass_check", "secret");
    start(settings);
    auto& dialog = *setpassform::setpass;

    // "новый": н U+043D, о U+043E, в U+0432, ...; 5 units, 5 bytes.
    dialog.Edit1.setText(u"новый");
    EXPECT_EQ(replyString(send("Hi"), 0), envelopeFor("Hi", keyOf("3D043E0432")));
    dialog.Edit1.setText(u"");
    EXPECT_EQ(bytesOf(send("Hi")), kCancel) << "nothing is sealed under the all-zero key";
    EXPECT_EQ(boxes(), (Boxes{{kWarning, kEmptyPassword}}));
    plugin.boxes.clear();
    dialog.Edit1.setText(u" x ");  // untrimmed: blank, x, blank
    EXPECT_EQ(replyString(send("Hi"), 0), envelopeFor("Hi", keyOf("200078")));

    dialog.Memo1.setText(u"777\r\n");
    EXPECT_EQ(send("Hi"), nullptr);
    EXPECT_NE(send("Hi", 777), nullptr);

    dialog.file_check.setChecked(true);
    dialog.Edit2.setText(u"absent.key");
    EXPECT_EQ(bytesOf(send("Hi", 777)), kCancel);
    EXPECT_EQ(boxes(), (Boxes{{kWarning, kKeyNotFound}}));

    EXPECT_EQ(folder.read("Mistlock.ini"), settings) << "nothing was saved";
}

TEST_F(MessageEvents, PasswordFromTheSettingsFileInTheSystemCodePage) {
    // The bytes CF E0 F0 EE EB FC: "Пароль" under 1251 (П U+041F, а U+0430,
    // р U+0440), "Ïàðîëü" under 1252 (U+00CF, U+00E0, U+00F0).
    start(ini("on", "pass_check", "\xCF\xE0\xF0\xEE\xEB\xFC"));
    const ElAES::Key key = keyOf(platform::ansiCodePage() == 1251 ? "1F0430044004" : "CF00E000F000");
    const std::string env = replyString(send("Hi"), 0);
    EXPECT_EQ(env, envelopeFor("Hi", key));
    EXPECT_EQ(replyString(receive(env), 0), "Hi");
}

// ---- Receiving --------------------------------------------------------------

enum class Outcome { NoReply, ErrorReply, Text };

struct ReceiveCase {
    std::string what;
    std::string received;
    Outcome outcome;
    std::string text = {};
};

std::string lowercase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void expectOutcome(const void* reply, const ReceiveCase& c) {
    if (c.outcome == Outcome::NoReply) {
        EXPECT_EQ(reply, nullptr) << c.what;
        return;
    }
    ASSERT_NE(reply, nullptr) << c.what;
    const std::string bytes = bytesOf(reply);
    const std::string expected = c.outcome == Outcome::Text ? c.text : errorTextFor(c.received);
    EXPECT_EQ(hex(bytes), hex(int32(static_cast<std::int32_t>(5 + expected.size())) + '\x02' + counted(expected)))
        << c.what;
}

TEST_F(MessageEvents, WhatAReceivedTextGives) {
    start(ini("on", "pass_check", "secret"));
    const std::string hi = envelopeFor("Hi", kSecretKey);
    const std::string hiDigits = hi.substr(kMarker.size());
    const std::string block = ecb("Hi", kSecretKey, true);
    const ReceiveCase cases[] = {
        {"envelope", hi, Outcome::Text, "Hi"},
        {"lowercase digits", kMarker + lowercase(hiDigits), Outcome::Text, "Hi"},
        {"one extra digit", hi + "A", Outcome::Text, "Hi"},
        {"trailing zeros trimmed", envelopeFor(std::string("ab\0\0", 4), kSecretKey), Outcome::Text, "ab"},
        {"zeros only", envelopeFor(std::string(3, '\0'), kSecretKey), Outcome::Text, ""},
        {"all byte values", envelopeFor(allByteValues(), kSecretKey), Outcome::Text, allByteValues()},
        {"4000 bytes", envelopeFor(sampleMessage(4000), kSecretKey), Outcome::Text, sampleMessage(4000)},

        {"marker alone", kMarker, Outcome::ErrorReply},
        {"one extra non-digit", hi + "Z", Outcome::ErrorReply},
        {"trailing blank", hi + " ", Outcome::ErrorReply},
        {"non-digit in a pair", "#MSTLK:0200000G", Outcome::ErrorReply},
        {"8-bit character", "#MSTLK:02\xC0", Outcome::ErrorReply},
        {"invalid UTF-8", "#MSTLK:C0", Outcome::ErrorReply},
        {"lone continuation byte", "#MSTLK:0200000080", Outcome::ErrorReply},
        {"encoded surrogate", "#MSTLK:EDA080", Outcome::ErrorReply},
        {"3 payload bytes", "#MSTLK:020000", Outcome::ErrorReply},
        {"empty ciphertext", "#MSTLK:00000000", Outcome::ErrorReply},
        {"15 bytes of ciphertext", "#MSTLK:01000000" + std::string(30, '0'), Outcome::ErrorReply},
        {"17 bytes of ciphertext", hi + "00", Outcome::ErrorReply},
        {"length that does not fit", envelopeOfPayload(int32(17) + block, platform::ansiCodePage()),
         Outcome::ErrorReply},

        {"marker in lowercase", "#mstlk:" + hiDigits, Outcome::NoReply},
        {"marker in mixed case", "#Mstlk:" + hiDigits, Outcome::NoReply},
        {"blank before the marker", " " + hi, Outcome::NoReply},
        {"line break before the marker", "\r\n" + hi, Outcome::NoReply},
        {"marker without #", hi.substr(1), Outcome::NoReply},
        {"marker cut short", "#MSTLK", Outcome::NoReply},
        {"plain text", "Hello", Outcome::NoReply},
        {"empty text", "", Outcome::NoReply},
    };
    for (const auto& c : cases) expectOutcome(receive(c.received), c);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(MessageEvents, MarkerAloneGivesThe57ByteErrorText) {
    start(ini("on", "pass_check", "secret"));
    const void* reply = receive(kMarker);
    ASSERT_NE(reply, nullptr);
    // 48 characters of the error line, each one byte in a single-byte code
    // page, CR LF and the 7-character marker: 57 bytes under 1251 and 1252.
    ASSERT_EQ(kOriginalMsgError.size(), 48u);
    EXPECT_EQ(replyString(reply, 0).size(), 57u);
    EXPECT_EQ(readInt32(reply, 0), 62);
    EXPECT_EQ(replyString(reply, 0), errorTextFor(kMarker));
}

TEST(MessageEventsReceipt, NeitherTheSwitchNorTheListMatters) {
    const std::string hi = envelopeFor("Hi", kSecretKey);
    struct Case { const char* onOff; const char* uinList; std::int32_t from; } cases[] = {
        {"off", "12345\r\n", kUin},
        {"on", "12345\r\n", 999},
        {"on", nullptr, kUin},
        {"off", nullptr, 0},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        folder.write("Mistlock.ini", ini(c.onOff, "pass_check", "secret"));
        if (c.uinList) folder.write("MistlockWho.ini", c.uinList);
        TestMessenger plugin;
        plugin.initialise(folder.hostPath());
        const void* reply = plugin.call(messageReceived(hi, c.from));
        ASSERT_NE(reply, nullptr) << c.onOff << " " << c.from;
        EXPECT_EQ(hex(bytesOf(reply)), "070000000202000000" "4869") << c.onOff << " " << c.from;
    }
}

TEST_F(MessageEvents, ReceivingWithAKeyFile) {
    const std::string hiKeyFile = envelopeFor("Hi", keyOf("1A043B044E0447042D"));
    struct Case {
        const char* file;  // null: no key file
        std::string bytes;
        ReceiveCase expect;
        Boxes shown;
    } cases[] = {
        {"k1.key", dataFile("key_utf16le_bom.txt"), {"UTF-16LE key file", hiKeyFile, Outcome::Text, "Hi"}, {}},
        // Nothing is opened under a key file that could not seal.
        {"k2.key", "\r\n", {"empty first line", envelopeFor("Hi", kZeroKey), Outcome::ErrorReply}, {}},
        {nullptr, "", {"missing", hiKeyFile, Outcome::NoReply}, {{kWarning, kKeyNotFound2}}},
        // The digits are read before the key file is looked for.
        {nullptr, "", {"missing, malformed envelope", hiKeyFile + "Z", Outcome::ErrorReply}, {}},
        {nullptr, "", {"missing, marker alone", kMarker, Outcome::ErrorReply}, {}},
        {"k6.key", "", {"0 bytes", hiKeyFile, Outcome::ErrorReply}, {}},
        {"k7.key", "\xFE\xFF", {"mark only", hiKeyFile, Outcome::ErrorReply}, {}},
        {"k8.key", std::string("\0k", 2), {"NUL first", hiKeyFile, Outcome::ErrorReply}, {}},
        {"k9.key", "\xEF\xBB\xBF\xE2\x82\r\n", {"bad UTF-8", hiKeyFile, Outcome::ErrorReply}, {}},
    };
    start(ini("on", "file_check", ""));
    for (const auto& c : cases) {
        plugin.boxes.clear();
        if (c.file) folder.write(c.file, c.bytes);
        setpassform::setpass->Edit2.setText(platform::widen(c.file ? c.file : "absent.key"));
        expectOutcome(receive(c.expect.received), c.expect);
        EXPECT_EQ(boxes(), c.shown) << c.expect.what;
    }
}

TEST_F(MessageEvents, WrongPassword) {
    start(ini("on", "pass_check", "secret"));
    const std::string hi = replyString(send("Hi"), 0);
    const std::string sixteen = replyString(send("0123456789abcdef"), 0);
    const std::string earlierSixteen = envelopeFor("0123456789abcdef", kSecretKey);
    setpassform::setpass->Edit1.setText(u"Secret");
    // The zero fill after the text does not decrypt to zeros: for L = 2, and
    // for the 16 bytes that sealing gave a seventeenth, zero byte.
    expectOutcome(receive(hi), {"wrong password", hi, Outcome::ErrorReply});
    expectOutcome(receive(sixteen), {"wrong password, 16 bytes", sixteen, Outcome::ErrorReply});
    // An earlier plug-in's envelope of 16 bytes has no fill, and carries no
    // check value: a wrong key cannot be told from a right one, and its bytes
    // are delivered.
    const void* reply = receive(earlierSixteen);
    ASSERT_NE(reply, nullptr);
    EXPECT_NE(replyString(reply, 0), "0123456789abcdef");
    EXPECT_NE(replyString(reply, 0), errorTextFor(earlierSixteen));
    EXPECT_TRUE(boxes().empty());
}

// A peer whose Windows runs the other code page: its envelope's characters
// are those of its bytes there. Where the length prefix and the zero fill
// vouch for a reading through another code page, the message arrives,
// converted into ours; an earlier plug-in's message of a multiple of 16 bytes
// cannot be vouched for, and our code page does not read it: the error line.
TEST_F(MessageEvents, EnvelopesFromAPeerOnAnotherCodePage) {
    start(ini("on", "pass_check", "secret"));
    const unsigned ours = platform::ansiCodePage();
    const unsigned theirs = ours == 1251 ? 1252 : 1251;
    // Our byte for a character of theirs, '?' where our code page lacks it.
    const auto inOurs = [&](unsigned char theirByte) {
        const char16_t c = characterOf(theirByte, theirs);
        for (int b = 0; b < 256; ++b) {
            if (characterOf(static_cast<unsigned char>(b), ours) == c) return static_cast<char>(b);
        }
        return '?';
    };
    std::vector<ReceiveCase> cases;
    // Forty plain-ASCII messages: their ciphertext is what differs.
    for (int i = 1; i <= 40; ++i) {
        std::string text = "Message " + std::to_string(i) + std::string(static_cast<std::size_t>(i), '.');
        if (text.size() % 16 == 0) text += '!';
        cases.push_back({"ASCII " + std::to_string(i), envelopeFor(text, kSecretKey, theirs), Outcome::Text, text});
    }
    // National characters, written out by hand in the sender's code page and
    // in ours.
    if (theirs == 1251) {
        cases.push_back({"Cyrillic to 1252", envelopeFor("\xCF\xF0\xE8\xE2\xE5\xF2, Bob! \x88\xAB", kSecretKey, 1251),
                         Outcome::Text, "??????, Bob! \x80\xAB"});
    } else {
        cases.push_back({"Western to 1251", envelopeFor("Caf\xE9 \x80" "5 \xAB" "ok\xBB", kSecretKey, 1252),
                         Outcome::Text, "Caf? \x88" "5 \xAB" "ok\xBB"});
    }
    // 128 bytes: the prefix's 0x80 reads as another length through our code
    // page, and no other reading can be vouched for: the error line.
    const std::string block128 = sampleMessage(128);
    const std::string env128 = envelopeFor(block128, kSecretKey, theirs);
    cases.push_back({"128 bytes", env128, Outcome::ErrorReply});
    // 136 bytes: L = 88 00 00 00, whose 0x88 is the euro sign in 1251 (0x80
    // in 1252) and a character 1251 lacks in 1252: through our code page the
    // length does not fit; the sender's code page verifies it.
    const std::string text136 = sampleMessage(136);
    std::string shown136;
    for (const char b : text136) shown136 += inOurs(static_cast<unsigned char>(b));
    cases.push_back({"136 bytes", envelopeFor(text136, kSecretKey, theirs), Outcome::Text, shown136});
    // 32 bytes: sealed now, the fill vouches for it. Sealed by an earlier
    // plug-in there is none, and the characters of its ciphertext are not all
    // ours ('?' stands for one we lack).
    const std::string text32 = "Thirty-two bytes, no zero fill!!";
    cases.push_back({"32 bytes", sealedEnvelopeFor(text32, kSecretKey, theirs), Outcome::Text, text32});
    std::string ourCipher32;
    for (const char b : ecb(text32, kSecretKey, true)) ourCipher32 += inOurs(static_cast<unsigned char>(b));
    ASSERT_NE(ourCipher32.find('?'), std::string::npos);
    cases.push_back({"32 bytes, earlier plug-in", envelopeFor(text32, kSecretKey, theirs), Outcome::ErrorReply});

    for (auto& c : cases) {
        if (c.outcome == Outcome::ErrorReply) c.text.clear();
        expectOutcome(receive(c.received), c);
    }
    EXPECT_TRUE(boxes().empty());
}

}  // namespace
