// The profile (INI) reader: the system's own GetPrivateProfileStringW.
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace {

// Given as the default, it comes back only when the key is absent: no
// profile value can hold these control characters.
constexpr wchar_t absent[] = L"\x01\x02mistlock:absent\x02\x01";
constexpr DWORD bufferLength = 2048;  // 2047 characters and the terminator

}  // namespace

std::optional<std::u16string> readProfileString(const std::u16string& path, const std::u16string& section,
                                                const std::u16string& key) {
    // A file out of reach reads as absent, as GetPrivateProfileStringW has it.
    try {
        if (!fileExists(path)) return std::nullopt;
    } catch (const EFileError&) {
        return std::nullopt;
    }
    // A name without a full path would be looked for in the Windows folder.
    std::u16string fullPath = path;
    std::vector<wchar_t> full(32768);
    const DWORD fullLength =
        GetFullPathNameW(win32::wide(path), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (fullLength > 0 && fullLength < full.size()) fullPath = win32::fromWide(full.data(), fullLength);

    std::vector<wchar_t> buffer(bufferLength, L'\0');
    const DWORD length = GetPrivateProfileStringW(win32::wide(section), win32::wide(key), absent, buffer.data(),
                                                  bufferLength, win32::wide(fullPath));
    const std::u16string value = win32::fromWide(buffer.data(), length);
    if (value == reinterpret_cast<const char16_t*>(absent)) return std::nullopt;
    return value;
}

}  // namespace platform
