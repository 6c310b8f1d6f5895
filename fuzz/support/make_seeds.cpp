// Writes the seed corpus of the fuzz targets: the event records of the codec
// and dispatch tests, envelopes sealed under the keys the targets use, and the
// test data files with byte-order marks, each in the input layout its target
// reads. Run once by hand (scripts/fuzz.sh seeds); the seeds are kept in the
// repository beside what fuzzing found.
//
//   fuzz_make_seeds CORPUS_ROOT TEST_DATA_FOLDER
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/sealed.h"
#include "platform/platform.h"
#include "tests/support/records.h"

namespace fs = std::filesystem;

namespace {

fs::path corpus;
fs::path testData;
int written = 0;

using testing_records::counted;
using testing_records::eventBody;
using testing_records::framed;
using testing_records::int32;

std::string byte(unsigned v) { return std::string(1, static_cast<char>(v)); }

void seed(const char* target, const std::string& name, const std::string& bytes) {
    const fs::path dir = corpus / target;
    fs::create_directories(dir);
    std::ofstream out(dir / ("seed-" + name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ++written;
}

std::string file(const std::string& relative) {
    std::ifstream in(testData / relative, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "missing test data %s\n", relative.c_str());
        std::exit(1);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sealedDigits(const std::string& message, const std::u16string& keyText, unsigned codePage) {
    return envelope::seal(message, envelope::keyBlockFromText(keyText), codePage).substr(envelope::marker.size());
}

// ---- plugin_events ---------------------------------------------------------
// flags: bit 0 the key-file setting, bit 1 code page 1252, bits 2-3 the mode
// (0 structured, 2 framed body, 3 verbatim record).

void pluginEvents() {
    const std::string passwordEnvelope = "#MSTLK:" + sealedDigits("Hi", u"fuzz password", 1251);
    const std::string keyFileEnvelope = "#MSTLK:" + sealedDigits("Hello, key file", u"key from a file", 1251);
    const std::string double1 = std::string("\0\0\0\0\0\0\xF0\x3F", 8);
    struct Body {
        const char* name;
        std::string bytes;
    };
    const std::vector<Body> bodies = {
        {"about", eventBody(3, "")},
        {"finalise", eventBody(2, "")},
        {"code0", eventBody(0, "")},
        {"code4", eventBody(4, "")},
        {"code5", eventBody(5, "")},
        {"code8", eventBody(8, "")},
        {"no-code", byte(3)},
        {"kind2", byte(2) + byte(3)},
        {"initialise", eventBody(1, int32(0) + int32(0) + counted("A") + counted("BC") + int32(0))},
        {"initialise-cut", eventBody(1, int32(0) + int32(0) + counted("") + counted("folder") + "\x01\x02")},
        {"initialise-negative", eventBody(1, int32(0) + int32(0) + int32(-5) + counted("C:\\Data\\Chat") + int32(0))},
        {"received-hello", eventBody(6, int32(123456) + int32(-3) + double1 + counted("hello"))},
        {"received-envelope", eventBody(6, int32(12345) + int32(0) + double1 + counted(passwordEnvelope))},
        {"received-keyfile-envelope", eventBody(6, int32(12345) + int32(0) + double1 + counted(keyFileEnvelope))},
        {"received-marker-only", eventBody(6, int32(1) + int32(0) + double1 + counted("#MSTLK:"))},
        {"received-bad-utf8", eventBody(6, int32(1) + int32(0) + double1 + counted("#MSTLK:0200000080"))},
        {"received-odd-digit", eventBody(6, int32(1) + int32(0) + double1 + counted(passwordEnvelope + "A"))},
        {"received-lying-length", eventBody(6, int32(1) + int32(0) + double1 + int32(1000) + "#MSTLK:00")},
        {"send-listed", eventBody(7, int32(12345) + int32(0) + counted("Hello there"))},
        {"send-negative-uin", eventBody(7, int32(-7) + int32(0) + counted(""))},
        {"send-unlisted", eventBody(7, int32(99) + int32(0) + counted("x"))},
        {"send-cut", eventBody(7, int32(1) + int32(0) + int32(3) + "ab")},
        {"send-cyrillic", eventBody(7, int32(0) + int32(0) + counted("\xCF\xF0\xE8\xE2\xE5\xF2\x00\x00"))},
    };
    for (const Body& b : bodies) {
        seed("plugin_events", std::string("framed-") + b.name, byte(0x08) + b.bytes);
        seed("plugin_events", std::string("framed-keyfile-") + b.name, byte(0x09) + b.bytes);
        seed("plugin_events", std::string("verbatim-") + b.name, byte(0x0C) + framed(b.bytes));
    }
    seed("plugin_events", "verbatim-length0", byte(0x0C) + std::string("\0\0\0\0\x03\x03", 6));
    seed("plugin_events", "verbatim-negative", byte(0x0C) + std::string("\xFE\xFF\xFF\xFF\x03\x01", 6));
    seed("plugin_events", "verbatim-claims-more", byte(0x0C) + int32(100) + byte(3) + byte(7));

    // Structured sequences. Ops: 0 receive, 1 send, 2 any event, 3 initialise,
    // 4 finalise, 5 button, 6 dialog edit, 7 about.
    auto text = [](const std::string& t) { return byte(0) + byte(static_cast<unsigned>(t.size())) + t; };
    auto plainFields = [] { return int32(0) + byte(0); };  // integer at 10, counted string as is
    const std::string sendHello = byte(1) + byte(0) + text("Hello") + plainFields();
    const std::string sendLong = byte(1) + byte(1) + byte(1) + byte(0) + byte(2) + std::string(512, 'L') + plainFields();
    seed("plugin_events", "steps-send", byte(0x00) + sendHello);
    seed("plugin_events", "steps-send-keyfile", byte(0x01) + sendHello + sendLong);
    seed("plugin_events", "steps-send-1252", byte(0x02) + sendHello);
    seed("plugin_events", "steps-receive",
         byte(0x00) + byte(0) + byte(5) + byte(0) + byte(static_cast<unsigned>(passwordEnvelope.size())) +
             passwordEnvelope + int32(0) + double1 + byte(0));
    seed("plugin_events", "steps-dialog",
         byte(0x00) + byte(5) + byte(1) + byte(6) + byte(0) + byte(3) + "new" + sendHello + byte(6) + byte(4) +
             sendHello + byte(6) + byte(2) + byte(5) + "12345" + byte(6) + byte(5) + byte(7) + byte(0));
    seed("plugin_events", "steps-toggle", byte(0x00) + byte(5) + byte(0) + sendHello + byte(5) + byte(0) + sendHello);
    seed("plugin_events", "steps-lifecycle",
         byte(0x00) + byte(4) + byte(0) + sendHello + byte(5) + byte(1) + byte(7) + byte(0) + byte(3) + byte(0) +
             byte(0) + sendHello + byte(3) + byte(1) + byte(0) + byte(4) + byte(0) + byte(4) + byte(0));
    seed("plugin_events", "steps-elsewhere",
         byte(0x00) + byte(4) + byte(0) + byte(3) + byte(2) + byte(0) + byte(5) + byte(0) + byte(4) + byte(0) +
             byte(3) + byte(0x84) + byte(0) + byte(5) + byte(1) + byte(4) + byte(0) + byte(3) + byte(3) + byte(0) +
             byte(5) + byte(0));
    // The host calling in again while the next box is open (flag 0x10, then
    // what it does: 0 finalise, 1 about, 2 receive, 3 send, 4 a button; then
    // the button code).
    const std::string missingKey = byte(6) + byte(1) + byte(11) + "missing.key";
    seed("plugin_events", "reentry-finalise-in-key-warning",
         byte(0x11) + byte(0) + byte(0) + missingKey + sendHello);
    seed("plugin_events", "reentry-receive-in-key-warning",
         byte(0x11) + byte(2) + byte(2) + byte(2) + "ZZ" + byte(0) + missingKey + sendHello);
    seed("plugin_events", "reentry-send-in-about", byte(0x10) + byte(3) + text("again") + byte(0) + byte(7) + byte(0));
    seed("plugin_events", "reentry-toggle-in-save-error",
         byte(0x10) + byte(4) + byte(0) + byte(4) + byte(0) + byte(3) + byte(2) + byte(0) + byte(5) + byte(0));
    seed("plugin_events", "reentry-finalise-in-settings-error",
         byte(0x10) + byte(0) + byte(0) + byte(4) + byte(0) + byte(3) + byte(2) + byte(0) + byte(5) + byte(1));
    seed("plugin_events", "steps-any-codes",
         byte(0x00) + byte(2) + byte(0) + byte(0) + byte(2) + byte(4) + byte(0) + byte(2) + byte(255) + byte(2) +
             "ab" + byte(2) + byte(1) + byte(4) + int32(0));
}

// ---- envelope_open ---------------------------------------------------------
// flags: bit 0 code page 1252, bits 1.. the key (0 raw 32 bytes, 1 key text,
// 2 all zero); then the mode (0 text after the marker, 1 payload, 2 seal;
// sealed: 3 text after its marker, 4 nonce, change and message to seal).

void envelopeOpen() {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::vector<std::pair<const char*, std::string>> messages = {
        {"hi", "Hi"},
        {"empty", ""},
        {"block", std::string(16, 'B')},
        {"block-and-one", std::string(17, 'C')},
        {"cyrillic", "\xCF\xF0\xE8\xE2\xE5\xF2"},
        {"trailing-zeros", std::string("text\0\0", 6)},
        {"all-bytes", all},
    };
    for (unsigned cp : {1251u, 1252u}) {
        const std::string cpFlag = byte(cp == 1252 ? 1 : 0);
        const std::string tag = cp == 1252 ? "-1252" : "-1251";
        for (const auto& [name, message] : messages) {
            // Key text "fuzz password" (flags key 1), and the all-zero key (2).
            const std::string digits = sealedDigits(message, u"fuzz password", cp);
            const std::string keyText = byte(13) + "fuzz password";
            seed("envelope_open", std::string("open-") + name + tag,
                 byte((cp == 1252 ? 1 : 0) | 1 << 1) + keyText + byte(0) + digits);
            const std::string zeroDigits = sealedDigits(message, u"", cp);
            seed("envelope_open", std::string("open-zero-key-") + name + tag,
                 byte((cp == 1252 ? 1 : 0) | 2 << 1) + byte(0) + zeroDigits);
            std::string lower = zeroDigits;
            for (char& c : lower) {
                if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
            }
            seed("envelope_open", std::string("open-lowercase-") + name + tag,
                 byte((cp == 1252 ? 1 : 0) | 2 << 1) + byte(0) + lower);
            seed("envelope_open", std::string("seal-") + name + tag,
                 byte((cp == 1252 ? 1 : 0) | 2 << 1) + byte(2) + message);
        }
        (void)cpFlag;
        const std::string zeroKey = byte((cp == 1252 ? 1 : 0) | 2 << 1);
        seed("envelope_open", "open-marker-only" + tag, zeroKey + byte(0));
        seed("envelope_open", "open-prefix-only" + tag, zeroKey + byte(0) + "00000000");
        seed("envelope_open", "open-bad-utf8" + tag, zeroKey + byte(0) + "0200000080");
        seed("envelope_open", "open-not-hex" + tag, zeroKey + byte(0) + "02000000ZZ");
        seed("envelope_open", "open-odd-digit" + tag, zeroKey + byte(0) + sealedDigits("Hi", u"", cp) + "7");
        seed("envelope_open", "open-two-byte-utf8" + tag, zeroKey + byte(0) + "02000000D090C380E282AC");
        seed("envelope_open", "payload-short" + tag, zeroKey + byte(1) + std::string("\x02\0\0\0", 4) + "0123456789ABCDE");
        seed("envelope_open", "payload-raw-key" + tag,
             byte(cp == 1252 ? 1 : 0) + std::string(32, '\x5A') + byte(1) + int32(3) + std::string(16, '\x11'));
        // Sealed under the all-zero key, with a nonce of twelve 0x4E.
        for (const auto& [name, message] : messages) {
            const std::string nonce(12, '\x4E');
            seed("envelope_open", std::string("seal-sealed-") + name + tag, zeroKey + byte(4) + nonce + byte(9) + message);
            envelope::sealed::Nonce n;
            n.fill(0x4E);
            const std::string text =
                envelope::sealed::sealWithNonce(message, ElAES::Key{}, cp, n).substr(envelope::sealed::marker.size());
            seed("envelope_open", std::string("open-sealed-") + name + tag, zeroKey + byte(3) + text);
        }
        seed("envelope_open", "open-sealed-empty" + tag, zeroKey + byte(3));
        seed("envelope_open", "open-sealed-padded" + tag, zeroKey + byte(3) + "AAAA=");
    }
}

// ---- settings_readers ------------------------------------------------------
// flags: bit 0 code page 1252, bits 1-2 the reader (0 decoding, 1 settings
// files, 2 key file, 3 language file).

void settingsReaders() {
    const std::vector<std::string> texts = {
        "settings/settings_cp1251.ini",   "settings/settings_utf16be_bom.ini", "settings/settings_utf16le_bom.ini",
        "settings/settings_utf8_bom.ini", "settings/uins_cp1251.txt",          "settings/uins_utf16be_bom.txt",
        "settings/uins_utf16le_bom.txt",  "settings/uins_utf8_bom.txt",        "envelope/key_cp1251.txt",
        "envelope/key_utf16be_bom.txt",   "envelope/key_utf16le_bom.txt",      "envelope/key_utf8_bom.txt",
    };
    auto base = [](const std::string& path) { return fs::path(path).stem().string(); };
    for (const std::string& path : texts) {
        seed("settings_readers", "decode-" + base(path), byte(0 << 1) + file(path));
        seed("settings_readers", "key-" + base(path), byte(2 << 1) + file(path));
    }
    seed("settings_readers", "decode-mixed-breaks", byte(0) + std::string("a\rb\nc\r\n\r\rd\0e\n", 13));
    seed("settings_readers", "decode-bad-utf8", byte(0) + "\xEF\xBB\xBF\xC0\x80");
    seed("settings_readers", "decode-odd-utf16", byte(0) + "\xFF\xFE" + "a\0b");
    seed("settings_readers", "key-empty", byte(2 << 1));
    seed("settings_readers", "key-bom-only", byte(2 << 1) + "\xEF\xBB\xBF");
    seed("settings_readers", "key-nul-first", byte(2 << 1) + std::string("\0key", 4));

    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"settings/settings_cp1251.ini", "settings/uins_cp1251.txt"},
        {"settings/settings_utf16be_bom.ini", "settings/uins_utf16be_bom.txt"},
        {"settings/settings_utf16le_bom.ini", "settings/uins_utf16le_bom.txt"},
        {"settings/settings_utf8_bom.ini", "settings/uins_utf8_bom.txt"},
    };
    for (const auto& [ini, who] : pairs) {
        const std::string settings = file(ini);
        const std::string length = byte(settings.size() & 0xFF) + byte(settings.size() >> 8);
        seed("settings_readers", "files-" + base(ini), byte(1 << 1) + byte(3) + length + settings + file(who));
        seed("settings_readers", "files-1252-" + base(ini), byte(1 << 1 | 1) + byte(3) + length + settings + file(who));
    }
    const std::string twoLines = "on\r\nfile_check\r\n";
    seed("settings_readers", "files-two-lines", byte(1 << 1) + byte(1) + byte(twoLines.size()) + byte(0) + twoLines);
    seed("settings_readers", "files-none", byte(1 << 1) + byte(0));
    seed("settings_readers", "files-empty", byte(1 << 1) + byte(3) + byte(0) + byte(0));

    const std::vector<std::string> languages = {"cp1251.lng",     "empty_pass.lng",       "english.lng",
                                                "long_value.lng", "other_section.lng",    "upper_case_names.lng",
                                                "utf16le_bom.lng", "warning_only.lng"};
    for (const std::string& name : languages) {
        const std::string section = "Translation", key = "Warning";
        seed("settings_readers", "language-" + base(name),
             byte(3 << 1) + byte(section.size()) + section + byte(key.size()) + key + file("lang/" + name));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_ROOT TEST_DATA_FOLDER\n", argv[0]);
        return 2;
    }
    corpus = argv[1];
    testData = argv[2];
    pluginEvents();
    envelopeOpen();
    settingsReaders();
    std::printf("wrote %d seeds under %s\n", written, corpus.string().c_str());
    return 0;
}
