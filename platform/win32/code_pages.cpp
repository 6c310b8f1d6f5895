// Code-page conversions through the system's own tables.
#include <climits>

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

std::string narrowCodePage(unsigned codePage, std::u16string_view text) {
    if (text.empty()) return {};
    const int length = checkedLength(text.size());
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    const int needed = WideCharToMultiByte(codePage, 0, source, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) conversionFailed("to", codePage);
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int done = WideCharToMultiByte(codePage, 0, source, length, out.data(), needed, nullptr, nullptr);
    if (done <= 0) conversionFailed("to", codePage);
    out.resize(static_cast<std::size_t>(done));
    return out;
}

std::u16string widen(std::string_view text) { return widenCodePage(GetACP(), text); }
std::string narrow(std::u16string_view text) { return narrowCodePage(GetACP(), text); }

}  // namespace platform
