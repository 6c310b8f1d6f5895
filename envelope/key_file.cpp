// The key file's first line, what makes a first line no key at all, and what
// makes a key file a sealed one.
#include <string>
#include <string_view>
#include <vector>

#include "envelope/key_block.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "platform/utf8.h"

namespace envelope {

namespace {

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view lineEnds("\r\n\0", 3);
// No encoding spends more bytes on one character.
constexpr std::size_t longestCharacter = 4;

bool startsWith(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

// UTF-8 read up to the limit may stop inside a character: its first bytes go.
std::string_view withoutCutCharacter(std::string_view bytes) {
    for (std::size_t back = 1; back < longestCharacter && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: its lead is further back
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.substr(0, bytes.size() - back) : bytes;
    }
    return bytes;
}

[[noreturn]] void noLine(const std::string& file) {
    throw EUnusableKeyFile(true, "The key file " + file + " is empty: its first line holds the key.");
}

// A file without a byte-order mark: its first line's bytes, which must all be
// characters of the code page, up to a CR or LF. A NUL there means that the
// file is no text in the code page at all.
std::u16string ansiFirstLine(std::string_view bytes, bool cut, unsigned codePage, const std::string& file) {
    const std::size_t end = bytes.find_first_of(lineEnds);
    const std::string_view line = bytes.substr(0, end);
    if (end != std::string_view::npos && bytes[end] == '\0') {
        if (bytes.find_first_not_of('\0', end) != std::string_view::npos) {
            throw EUnusableKeyFile(
                false, "The key file " + file + " looks like UTF-16 without a byte-order mark: its first line ends at a "
                       "zero byte after " + std::to_string(end) + " bytes, and text follows. Read in code page " +
                       std::to_string(codePage) + " it would give a key nobody meant. Save it again as Unicode or "
                       "UTF-8 with a byte-order mark, or make a new key file with 'mistlock keygen'.");
        }
        if (end == 0) noLine(file);
        throw EUnusableKeyFile(false, "The key file " + file + " is not a text file: its first line ends at a zero "
                                      "byte. Use a text file whose first line is the key, or make one with "
                                      "'mistlock keygen'.");
    }
    if (bytes.empty()) noLine(file);
    // A line that runs to the limit may end in part of a character.
    const std::string_view checked =
        cut && end == std::string_view::npos ? line.substr(0, line.size() - longestCharacter + 1) : line;
    if (!platform::codePageDefines(codePage, checked)) {
        throw EUnusableKeyFile(false, "The key file " + file + " is not text in code page " + std::to_string(codePage) +
                                      ": its first line holds bytes that the code page does not define, as a "
                                      "picture or other binary file does. Use a text file whose first line is the "
                                      "key, or make one with 'mistlock keygen'.");
    }
    return platform::widenCodePage(codePage, line);
}

std::u16string markedText(std::string_view bytes, bool cut, const std::string& file, const std::string& fileName) {
    if (!startsWith(bytes, utf8Mark)) return platform::decodeText(bytes, fileName).text;
    const std::string_view body = bytes.substr(utf8Mark.size());
    auto text = utf8::decode(cut ? withoutCutCharacter(body) : body);
    if (!text) {
        throw EUnusableKeyFile(false, "The key file " + file + " is marked as UTF-8 but is not valid UTF-8. Save it "
                                      "again as UTF-8, or make a new key file with 'mistlock keygen'.");
    }
    return std::move(*text);
}

void requireLongEnough(std::u16string_view line, const std::string& file) {
    if (line.empty()) {
        throw EUnusableKeyFile(true, "The first line of the key file " + file + " is empty: it would give the all-zero "
                                     "key, which anybody can try first. Write the key on the first line.");
    }
    if (line.size() < shortestKeyFileLine) {
        const std::string n = std::to_string(line.size());
        throw EUnusableKeyFile(false, "The first line of the key file " + file + " has only " + n + " character" +
                                          (line.size() == 1 ? "" : "s") + ", which make " + n +
                                          " of the key's 32 bytes: a key that anybody can find by trying them all. "
                                          "Write a key of at least " + std::to_string(shortestKeyFileLine) +
                                          " characters on the first line, or make a key file with 'mistlock keygen'.");
    }
}

}  // namespace

std::u16string keyFileFirstLine(std::string_view leadingBytes, unsigned codePage, const std::string& fileName) {
    const std::string file = "\"" + fileName + "\"";
    // As many bytes as the limit: the file may go on beyond them.
    const bool cut = leadingBytes.size() >= keyFileReadLimit;
    const bool marked = startsWith(leadingBytes, utf8Mark) || startsWith(leadingBytes, "\xFF\xFE") ||
                        startsWith(leadingBytes, "\xFE\xFF");
    std::u16string line;
    if (marked) {
        std::u16string text = markedText(leadingBytes, cut, file, fileName);
        const ElAES::WipeOnExit wipeText(text);
        if (text.empty() || text[0] == u'\0') noLine(file);
        line = text.substr(0, text.find_first_of(std::u16string_view(u"\r\n\0", 3)));
    } else {
        line = ansiFirstLine(leadingBytes, cut, codePage, file);
    }
    try {
        requireLongEnough(line, file);
    } catch (...) {
        ElAES::wipe(line);
        throw;
    }
    return line;
}

std::u16string readKeyFileFirstLine(const std::u16string& path) {
    std::string bytes = platform::readFileStart(path, keyFileReadLimit);
    const ElAES::WipeOnExit wipeBytes(bytes);
    return keyFileFirstLine(bytes, platform::ansiCodePage(), utf8::encode(path));
}

bool marksSealedKeyFile(std::string_view leadingBytes, unsigned codePage) {
    const bool cut = leadingBytes.size() >= keyFileReadLimit;
    const std::string_view bytes = leadingBytes.substr(0, keyFileReadLimit);
    std::u16string text;
    const ElAES::WipeOnExit wipeText(text);
    if (startsWith(bytes, utf8Mark)) {
        const std::string_view body = bytes.substr(utf8Mark.size());
        auto decoded = utf8::decode(cut ? withoutCutCharacter(body) : body);
        if (!decoded) return false;
        text = std::move(*decoded);
        ElAES::wipe(*decoded);
    } else if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF")) {
        text = platform::decodeText(bytes, "").text;
    } else {
        text = platform::widenCodePage(codePage, bytes);
    }
    std::vector<std::u16string> lines = platform::splitLines(text);
    const bool lastLineEnded = !text.empty() && (text.back() == u'\r' || text.back() == u'\n');
    if (cut && !lastLineEnded && !lines.empty()) {
        ElAES::wipe(lines.back());
        lines.pop_back();
    }
    bool sealed = false;
    for (std::size_t i = 1; i < lines.size(); ++i) sealed = sealed || lines[i] == sealedKeyFileLine;
    for (std::u16string& line : lines) ElAES::wipe(line);
    return sealed;
}

void readKeyFile(const std::u16string& path, KeyFileKey& key) {
    std::string bytes = platform::readFileStart(path, keyFileReadLimit);
    const ElAES::WipeOnExit wipeBytes(bytes);
    const unsigned codePage = platform::ansiCodePage();
    key.firstLine = keyFileFirstLine(bytes, codePage, utf8::encode(path));
    key.sealed = marksSealedKeyFile(bytes, codePage);
}

}  // namespace envelope
