// Messages longer than the mebibyte pieces in which mistlock converts a
// message, writes an envelope and writes an opened text: seal must write the
// envelope that another implementation worked out (tests/data/cli/
// long_messages.tsv, by length and SHA-256), and open and open-log must give
// the message back whole, from standard input and from a file, on a terminal
// too, where a CR LF cut apart would show as "\x0D" and a C1 control cut
// apart would reach the terminal unescaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "crypto/sha256.h"
#include "tests/cli/fake_console.h"
#include "tests/support/records.h"
#include "tests/support/test_messenger.h"
#include "tools/cli/cli.h"

namespace {

using testing_cli::FakeConsole;

// The message of make_long_messages.mjs, in UTF-8: drawn words, cut to
// `length` characters, CR LF where a mebibyte of a single-byte code page ends,
// and a C1 control the code page holds where a mebibyte of UTF-8 ends inside
// its form.
std::string drawnMessage(unsigned codePage, std::uint32_t seed, std::size_t length) {
    const std::u16string cyrillic[] = {u"alpha", u"привет", u"Gamma", u"мир", u"x"};
    const std::u16string western[] = {u"alpha", u"Grüße", u"façade", u"Ñu", u"x"};
    const std::u16string* words = codePage == 1251 ? cyrillic : western;
    std::u16string text;
    while (text.size() < length) {
        seed = seed * 1103515245u + 12345u;
        text += words[(seed >> 16) % 5] + u' ';
    }
    text.resize(length);
    text[1048575] = u'\r';
    text[1048576] = u'\n';
    std::size_t at = 0, bytes = 0;
    while (bytes < 1048575) bytes += text[at++] < 0x80 ? 1 : 2;
    if (bytes > 1048575) text[at - 1] = u'x';
    text[at] = codePage == 1251 ? u'\u0098' : u'\u0081';
    std::string utf8;
    for (const char16_t c : text) {  // none beyond U+07FF
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::vector<std::vector<std::string>> rows() {
    std::ifstream in(std::filesystem::path(MISTLOCK_TEST_DATA) / "cli" / "long_messages.tsv", std::ios::binary);
    std::vector<std::vector<std::string>> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string field; std::getline(cells, field, '\t');) fields.push_back(field);
        out.push_back(fields);
    }
    return out;
}

struct Ran {
    int status;
    std::string out, err;
};

Ran run(const std::vector<std::string>& args, const std::string& input, bool terminal = false,
        const std::string& random = "") {
    FakeConsole console(input);
    console.outputTerminal = terminal;
    const int status = cli::run(args, console, [&](unsigned char* out, std::size_t n) {
        ASSERT_EQ(n, random.size());
        std::copy(random.begin(), random.end(), out);
    });
    return {status, console.out, console.err};
}

TEST(LongMessages, SealOpenAndOpenLogGiveWhatAnotherImplementationGives) {
    const auto table = rows();
    ASSERT_EQ(table.size(), 3u) << "tests/data/cli/long_messages.tsv";
    test_messenger::TempFolder folder;
    // UTF-16LE with its mark: the key line, CR LF, the sealed key file's line.
    std::u16string keyFile = u"\uFEFFlong-message sealed key 0123456789\r\nMistlock-Sealed: 2";
    folder.write("sealed.key", std::string(reinterpret_cast<const char*>(keyFile.data()), 2 * keyFile.size()));
    for (const auto& row : table) {
        SCOPED_TRACE(row[0]);
        const bool sealed = row[1] == "sealed";
        const std::string message = drawnMessage(std::stoul(row[2]), std::stoul(row[3]), std::stoul(row[4]));
        const std::vector<std::string> key = {
            "--codepage", row[2], sealed ? "--key-file" : "--password",
            sealed ? folder.file("sealed.key") : std::string("long message key")};
        const auto with = [&](std::vector<std::string> args) {
            args.insert(args.begin() + 1, key.begin(), key.end());
            return args;
        };

        const Ran sealedRun =
            run(with({"seal", "-"}), message + "\n", false, testing_records::unhex("000102030405060708090A0B"));
        ASSERT_EQ(sealedRun.status, 0) << sealedRun.err;
        const std::string envelope = sealedRun.out.substr(0, sealedRun.out.size() - 1);
        EXPECT_EQ(sealedRun.out.back(), '\n');
        EXPECT_EQ(envelope.size(), std::stoul(row[5]));
        const ElAES::Digest digest = ElAES::sha256(envelope);
        std::string digestHex = testing_records::hex(std::string(digest.begin(), digest.end()));
        std::transform(digestHex.begin(), digestHex.end(), digestHex.begin(), [](char c) { return std::tolower(c); });
        EXPECT_EQ(digestHex, row[6]);

        folder.write("history.txt", "Alice: " + envelope + " ok\r\nBob: hi\n");
        const std::string history = "Alice: " + message + " ok\r\nBob: hi\n";
        // On a terminal the control is escaped; the CR LF stays.
        const std::size_t control = message.find(row[2] == "1251" ? "\xC2\x98" : "\xC2\x81");
        ASSERT_EQ(control, 1048575u);
        const std::string shown = std::string(message).replace(control, 2, row[2] == "1251" ? "\\u0098" : "\\u0081");
        const std::string historyShown = "Alice: " + shown + " ok\r\nBob: hi\n";
        const struct {
            const char* name;
            std::vector<std::string> args;
            std::string input;
            bool terminal;
            std::string expected;
        } reads[] = {
            {"open", {"open", "-"}, envelope + "\n", false, message + "\n"},
            {"open pasted text, on a terminal", {"open", "-"}, "Alice: " + envelope + " ok", true, shown + "\n"},
            {"open-log of standard input", {"open-log", "-"}, folder.read("history.txt"), false, history},
            {"open-log of a file, on a terminal", {"open-log", folder.file("history.txt")}, "", true, historyShown},
        };
        for (const auto& r : reads) {
            SCOPED_TRACE(r.name);
            const Ran opened = run(with(r.args), r.input, r.terminal);
            EXPECT_EQ(opened.status, 0) << opened.err;
            EXPECT_TRUE(opened.out == r.expected) << "wrong output of " << opened.out.size() << " bytes";
        }
        if (sealed) continue;
        // A character that is no digit is named where it stands, early, deep
        // inside and last, though the digits are decoded where they were read.
        for (const std::size_t at : {std::size_t{7}, std::size_t{2000001}, envelope.size() - 1}) {
            std::string damaged = envelope;
            damaged[at] = 'G';
            const Ran refused = run(with({"open", "-"}), damaged, false);
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.err.find("not a hexadecimal digit, at position " + std::to_string(at + 1) + "."),
                      std::string::npos)
                << refused.err;
        }
    }
}

}  // namespace
