#include "tests/support/odd_files.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace odd_files {

#if defined(_WIN32)
namespace {
std::vector<std::string> placed;
}

bool removeFolderHolding(const std::string& folder) {
    const auto inside = [&](const std::string& path) { return path.rfind(folder, 0) == 0; };
    if (std::none_of(placed.begin(), placed.end(), inside)) return false;
    placed.erase(std::remove_if(placed.begin(), placed.end(), inside), placed.end());
    return runOnHost(L"rm -rf", std::filesystem::path(folder).wstring());
}

bool runOnHost(const std::wstring& command, const std::wstring& path) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName) return false;
    const std::wstring marker = path + L".done";
    char* name = unixName(path.c_str());
    if (!name) return false;
    const std::wstring target(name, name + strlen(name));
    HeapFree(GetProcessHeap(), 0, name);
    std::wstring line = L"/bin/sh -c \"" + command + L" '" + target + L"' && touch '" + target + L".done'\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int wait = 0; wait < 500; ++wait) {
        if (DeleteFileW(marker.c_str())) return true;
        Sleep(20);
    }
    return false;
}
#endif

bool place(Odd what, const std::string& path) {
    std::error_code error;
    if (what == Odd::Folder) return std::filesystem::create_directory(path, error);
    // The link leads into a folder that is not there, as onto a drive that
    // is not mounted.
#if defined(_WIN32)
    placed.push_back(path);
    return runOnHost(what == Odd::Pipe ? L"mkfifo" : L"ln -s missing-drive/file",
                     std::filesystem::path(path).wstring());
#else
    return what == Odd::Pipe ? mkfifo(path.c_str(), 0600) == 0 : symlink("missing-drive/file", path.c_str()) == 0;
#endif
}

}  // namespace odd_files
