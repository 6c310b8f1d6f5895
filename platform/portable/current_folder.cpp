// The process's current folder, as a Windows-style path of the headless layer.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/utf8.h"

namespace platform {

std::u16string currentFolder() {
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) throw EFileError(std::string("Cannot find the current folder: ") + std::strerror(errno));
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    if (buffer.size() > 1 && buffer.back() == '/') buffer.pop_back();
    // Backslashes are what the core joins paths with; the layer maps them back.
    for (char& c : buffer) {
        if (c == '/') c = '\\';
    }
    if (auto text = utf8::decode(buffer)) return *text;
    throw EFileError("Cannot find the current folder: its name is not valid UTF-8.");
}

}  // namespace platform
