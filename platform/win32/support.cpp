#include "platform/win32/win32_support.h"

#include "platform/utf8.h"

namespace platform::win32 {

std::u16string systemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (length > 0 && buffer) text = fromWide(buffer, length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    if (text.empty()) {
        const std::string number = std::to_string(error);
        text = u"error " + std::u16string(number.begin(), number.end());
    }
    return text;
}

std::string fileFailure(const char* action, const std::u16string& path, const std::u16string& cause) {
    return std::string("Cannot ") + action + " the file \"" + utf8::encode(path) + "\": " + utf8::encode(cause);
}

std::string fileFailure(const char* action, const std::u16string& path, DWORD error) {
    return fileFailure(action, path, systemMessage(error));
}

HMODULE ownModule() {
    static HMODULE module = [] {
        HMODULE found = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(&ownModule), &found)) {
            found = GetModuleHandleW(nullptr);
        }
        return found;
    }();
    return module;
}

std::u16string windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    // Read straight into the result: the password field's text leaves no
    // second copy behind in freed memory.
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(window, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

}  // namespace platform::win32
