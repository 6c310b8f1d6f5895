#pragma once
// The envelope's text steps as tables of single bytes, one set per code page.
//
// With a single-byte code page each step maps one byte (or one UTF-16 unit) to
// one, independently of its neighbours, so the chain of conversions is a table
// lookup per byte. The tables are filled from the platform's own conversions,
// and only after the conversions have been seen to be byte-wise for this code
// page: every byte widens to one unit on its own and in every pair of bytes,
// and those units narrow one to one, alone and in pairs. A code page that
// fails this (a double-byte one) gets no tables, and text_steps.cpp keeps the
// conversions in steps for it.
//
// For the text steps (text_steps.cpp, and the paths of text_paths.h that read
// UTF-8 through the tables) and the tests of its tables; the rest of the
// program takes the steps from text_steps.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace envelope::detail {

// Up to six hex digits (three UTF-8 bytes), or the bytes of one UTF-8 form,
// stored eight at a time.
struct Digits {
    char text[8];
    std::uint8_t length;
};

struct ByteTables {
    unsigned codePage = 0;
    char16_t wide[256];          // widen of the byte
    unsigned char through[256];  // narrow(widen(byte))
    Digits encoded[256];         // hex of UTF-8 of widen(byte): hexEncode
    Digits sealed[256];          // encoded[through[byte]]: a payload byte in the envelope
    Digits utf8[256];            // UTF-8 of widen(byte): the sealed envelope's plain text
    unsigned char utf8Planes[4][256];  // byte k of utf8[byte] (k < 3, zero past it), and its length (k = 3)
    bool keepsEveryByte = false;  // through[byte] == byte for every byte

    // Strict UTF-8 decoding and narrowing in one, for the characters that some
    // byte widens to, by the bytes of their (only valid) UTF-8 form:
    //   prefix[b0 | b1 << 8], for a lead byte b0 below E0 (b1 0 for one-byte
    //     forms), is the narrowed byte, or -1 for a form of no such character
    //     or no valid form at all;
    //   for b0 from E0 up it is the page of third bytes of the forms that
    //     begin with b0 b1 (page 0: none), and third[page * 256 + b2] is the
    //     narrowed byte, or -1.
    std::vector<std::int16_t> prefix;
    std::vector<std::int16_t> third;

    // The same forms for the vector decoder (AVX2), in pages: the forms with
    // one lead byte (two-byte forms) or one lead and middle byte (three-byte
    // forms), by their last byte's low six bits in four tables of sixteen
    // (one PSHUFB each), holding the narrowed byte, 0 for no form. Empty when
    // the code page's forms do not fit this (a one-byte form that does not
    // narrow to itself, a form that narrows to 0, more than kMaxPages pages):
    // then the tables above decode alone.
    struct FormPage {
        std::uint8_t lead;
        std::uint8_t middle;   // 0 for two-byte forms
        std::uint8_t present;  // bit j: table[j] holds a form
        unsigned char table[4][16];
    };
    static constexpr std::size_t kMaxPages = 12;
    std::vector<FormPage> pages;
};

// The tables of a code page, built on its first use and kept for the life of
// the process; null when the code page is not byte-wise.
const ByteTables* byteTablesFor(unsigned codePage);

// Appends the digits of each byte through one of the digit tables (`encoded`
// or `sealed`).
void appendDigits(std::string& out, std::string_view bytes, const Digits (&table)[256]);

// Appends the UTF-8 form of each byte (`utf8`): 64 bytes at a time where
// AVX-512 with VBMI2 runs, through utf8Planes (utf8_forms.cpp).
void appendUtf8Forms(std::string& out, std::string_view bytes, const ByteTables& tables);

// Strict UTF-8 to the code page through the tables, for texts whose every
// character is one that a byte of the code page widens to. Returns false,
// having changed nothing that counts, for anything else (a character the code
// page lacks, one beyond U+FFFF, or invalid UTF-8): the caller then takes the
// conversions in steps, which decide the result or the error. It stops at
// the first round of forms that holds such a thing: a reading through another
// code page is tried on every envelope received, and most fail early.
// `in` must be followed in its storage by four zero bytes that are not part of
// it: every sequence reads four bytes, and a zero is no continuation byte, so
// a sequence cut short by the end is refused like any other.
bool narrowUtf8ByTable(std::string_view in, const ByteTables& tables, std::string& out);

// Whether the code page has the characters of the forms that begin the
// text, as far as its first `bytes` bytes hold whole forms: a glance, one
// form at a time, that stops at the first the code page lacks. A text that
// narrowUtf8ByTable reads passes it.
inline bool readsFirstForms(std::string_view in, const ByteTables& tables, std::size_t bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size() < bytes ? in.size() : bytes;
    for (std::size_t at = 0; at < n;) {
        const unsigned lead = p[at];
        const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : 3;
        if (at + length > n) break;
        std::int32_t found = tables.prefix[length == 1 ? lead : lead | p[at + 1] << 8];
        if (length == 3) found = found > 0 ? tables.third[static_cast<std::size_t>(found) * 256 + p[at + 2]] : -1;
        if (found < 0) return false;
        at += length;
    }
    return true;
}

}  // namespace envelope::detail
