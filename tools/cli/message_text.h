#pragma once
// Between the terminal's UTF-8 and the message bytes the messenger carries in
// the peers' code page.
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cli {

// Text given on the command line or on standard input that cannot be a
// message; the message says why.
class TextError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MessageBytes {
    std::string bytes;  // in the code page
    // Characters the code page lacks, each sent as its default character.
    std::size_t unmappable = 0;
};

// The message that a text stands for: "hex:" and hex digits (either case)
// give raw bytes; anything else must be UTF-8 and is narrowed to the code
// page. Raises TextError.
MessageBytes messageFromText(std::string_view text, unsigned codePage);
// The same for a text that it takes and converts where it lies, a piece at a
// time: a long message is held once.
MessageBytes messageFromText(std::string&& text, unsigned codePage);

// Message bytes in the code page, as UTF-8 for the terminal.
std::string textFromMessage(std::string_view bytes, unsigned codePage);

// The same conversion for a stream of text: the UTF-8 form of each of the
// code page's 256 bytes, looked up once through the platform's conversion.
class CodePageToUtf8 {
public:
    explicit CodePageToUtf8(unsigned codePage);
    // Appends the UTF-8 form of the bytes to out.
    void append(std::string_view bytes, std::string& out) const;

private:
    char sequences_[256][4];  // up to three bytes, then their count
};

// UTF-8 text as a terminal may be given it: control characters other than
// tab, LF and the CR of a CR LF shown as \xHH (C1 controls as \u00HH), so
// that no text can retitle the terminal, move its cursor or forge lines.
// A backslash stays as it is.
std::string escapedForTerminal(std::string_view text);

// Hands the text to `take` in pieces of about a mebibyte, cut where
// escapedForTerminal and the conversions give for the pieces what they give for
// the whole: never between a CR and its LF, nor (utf8) inside a character's
// form.
void eachPiece(std::string_view text, bool utf8, const std::function<void(std::string_view)>& take);

// Standard input without one line break (LF or CR LF) at its end.
std::string_view withoutFinalLineBreak(std::string_view input);

// The text without blanks, tabs and line breaks around it.
std::string_view trimBlanks(std::string_view text);

}  // namespace cli
