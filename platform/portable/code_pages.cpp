// Code-page conversions of the headless layer: single-byte tables only, which
// is all the message path needs.
#include <memory>
#include <string>
#include <vector>

#include "platform/code_page_gaps.h"
#include "platform/platform.h"
#include "platform/portable/code_page_tables.h"
#include "platform/portable/headless.h"

namespace platform {

namespace {

unsigned currentCodePage = 1251;

// As Windows refuses a code page it does not have.
const char16_t* highHalf(unsigned codePage, const char* direction) {
    const char16_t* high = headless::highHalfOf(codePage);
    if (!high) {
        throw Exception(std::string("Cannot convert text ") + direction + " code page " + std::to_string(codePage) +
                        ": the code page is not available.");
    }
    return high;
}

// Byte for each UTF-16 unit (0 where the code page has no such character,
// which only U+0000 legitimately maps to), built once per code page.
struct ReverseTable {
    unsigned char bytes[0x10000] = {};
    explicit ReverseTable(const char16_t* high) {
        for (unsigned b = 0; b < 0x80; ++b) bytes[b] = static_cast<unsigned char>(b);
        for (unsigned k = 0; k < 128; ++k) bytes[high[k]] = static_cast<unsigned char>(0x80 + k);
    }
};

const ReverseTable& reverseTable(unsigned codePage) {
    highHalf(codePage, "to");
    // All of them at the first narrowing: 64 KB each.
    static const auto tables = [] {
        std::vector<std::unique_ptr<const ReverseTable>> made;
        for (const auto& t : headless::codePageTables) made.push_back(std::make_unique<const ReverseTable>(t.high));
        return made;
    }();
    int i = 0;
    while (headless::codePageTables[i].codePage != codePage) ++i;
    return *tables[i];
}

}  // namespace

void headless::setAnsiCodePage(unsigned codePage) {
    currentCodePage = headless::highHalfOf(codePage) ? codePage : 1251;
}

unsigned ansiCodePage() { return currentCodePage; }

std::u16string widenCodePage(unsigned codePage, std::string_view text) {
    const char16_t* high = highHalf(codePage, "from");
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        out[i] = b < 0x80 ? static_cast<char16_t>(b) : high[b - 0x80];
    }
    return out;
}

std::string narrowCodePage(unsigned codePage, std::u16string_view text) {
    const ReverseTable& table = reverseTable(codePage);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const unsigned char b = table.bytes[c];
        // The code page's default character for what it lacks.
        const char mapped = (b != 0 || c == 0) ? static_cast<char>(b) : '?';
        // A surrogate pair is one character: one default character for both halves.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
        out += mapped;
    }
    return out;
}

bool codePageDefines(unsigned codePage, std::string_view text) {
    const char16_t* high = highHalf(codePage, "from");
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && isUnassignedStandIn(high[b - 0x80])) return false;
    }
    return true;
}

std::u16string widen(std::string_view text) { return widenCodePage(currentCodePage, text); }
std::string narrow(std::u16string_view text) { return narrowCodePage(currentCodePage, text); }

}  // namespace platform
