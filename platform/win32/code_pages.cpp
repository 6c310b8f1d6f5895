// Code-page conversions through the system's own tables.
#include <climits>

#include "platform/code_page_gaps.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) throw Exception("The text is too long to convert.");
    return static_cast<int>(size);
}

[[noreturn]] void conversionFailed(const char* direction, unsigned codePage) {
    const std::u16string cause = win32::systemMessage(GetLastError());
    throw Exception(std::string("Cannot convert text ") + direction + " code page " + std::to_string(codePage) + ": " +
                    utf8::encode(cause));
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool hasSurrogatePair(std::u16string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && isLowSurrogate(text[i + 1])) return true;
    }
    return false;
}

// The UTF-16 unit of a single-byte code page's default character, which the
// code page gives back as that character; nothing for other code pages.
bool singleByteDefaultUnit(unsigned codePage, wchar_t& unit) {
    CPINFO info{};
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 1) return false;
    return MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(info.DefaultChar), 1, &unit, 1) == 1;
}

// A single-byte code page holds no character beyond U+FFFF, and a surrogate
// pair is one character: one default character, as the headless layer gives.
// Windows itself would give one for each half.
std::u16string_view withPairsAsDefault(unsigned codePage, std::u16string_view text, std::u16string& storage) {
    wchar_t unit = 0;
    if (!hasSurrogatePair(text) || !singleByteDefaultUnit(codePage, unit)) return text;
    storage.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            storage += static_cast<char16_t>(unit);
            ++i;
        } else {
            storage += text[i];
        }
    }
    return storage;
}

}  // namespace

unsigned ansiCodePage() { return GetACP(); }

std::u16string widenCodePage(unsigned codePage, std::string_view text) {
    if (text.empty()) return {};
    const int length = checkedLength(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) conversionFailed("from", codePage);
    std::u16string out(static_cast<std::size_t>(needed), u'\0');
    const int done =
        MultiByteToWideChar(codePage, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), needed);
    if (done <= 0) conversionFailed("from", codePage);
    out.resize(static_cast<std::size_t>(done));
    return out;
}

// Without WC_NO_BEST_FIT_CHARS Windows would write a look-alike for many a
// character the code page lacks (e for é in 1251), where the headless layer
// and every other reader of an envelope give the default character. A code
// page that refuses the flag (UTF-8, UTF-7) has no look-alikes to give.
std::string narrowCodePage(unsigned codePage, std::u16string_view text) {
    if (text.empty()) return {};
    std::u16string pairsReplaced;
    text = withPairsAsDefault(codePage, text, pairsReplaced);
    const int length = checkedLength(text.size());
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int needed = WideCharToMultiByte(codePage, flags, source, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        needed = WideCharToMultiByte(codePage, flags, source, length, nullptr, 0, nullptr, nullptr);
    }
    if (needed <= 0) conversionFailed("to", codePage);
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int done = WideCharToMultiByte(codePage, flags, source, length, out.data(), needed, nullptr, nullptr);
    if (done <= 0) conversionFailed("to", codePage);
    out.resize(static_cast<std::size_t>(done));
    return out;
}

// A multi-byte code page refuses a sequence it does not define outright; a
// single-byte one converts every byte, the unassigned ones to stand-ins.
bool codePageDefines(unsigned codePage, std::string_view text) {
    if (text.empty()) return true;
    const int length = checkedLength(text.size());
    // No code page gives more UTF-16 units than it reads bytes.
    std::u16string out(text.size(), u'\0');
    auto* wide = reinterpret_cast<wchar_t*>(out.data());
    int done = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, wide, length);
    if (done <= 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION) return false;
    if (done <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        done = MultiByteToWideChar(codePage, 0, text.data(), length, wide, length);
    }
    if (done <= 0) conversionFailed("from", codePage);
    for (int i = 0; i < done; ++i) {
        if (isUnassignedStandIn(out[static_cast<std::size_t>(i)])) return false;
    }
    return true;
}

std::u16string widen(std::string_view text) { return widenCodePage(GetACP(), text); }
std::string narrow(std::u16string_view text) { return narrowCodePage(GetACP(), text); }

}  // namespace platform
