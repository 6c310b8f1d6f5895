// The process's current folder.
#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

namespace platform {

std::u16string currentFolder() {
    const auto failed = [] {
        return EFileError("Cannot find the current folder: " + utf8::encode(win32::systemMessage(GetLastError())));
    };
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) throw failed();
    std::wstring buffer(needed, L'\0');
    const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) throw failed();
    std::u16string folder = win32::fromWide(buffer.data(), length);
    // Only a drive's root ends in a separator ("C:\"); callers add their own.
    if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
    return folder;
}

}  // namespace platform
