#pragma once
// Helpers shared by the Win32 platform sources; nothing outside platform/win32
// includes this.
#include <windows.h>

#include <string>

namespace platform::win32 {

// std::u16string and wchar_t text are the same bytes on Windows.
inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string fromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// The system's text for an error code, without the trailing line break; a
// plain "error N" when the system has none.
std::u16string systemMessage(DWORD error);

// "Cannot <action> the file "<path>": <cause>", UTF-8, for EFileError.
std::string fileFailure(const char* action, const std::u16string& path, const std::u16string& cause);
std::string fileFailure(const char* action, const std::u16string& path, DWORD error);

// The module that holds this code: the plug-in library, or the test program
// that links the core statically. Resources are looked up here.
HMODULE ownModule();

// The text of a window.
std::u16string windowText(HWND window);

}  // namespace platform::win32
