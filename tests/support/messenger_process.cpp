#include "tests/support/messenger_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace messenger_process {

namespace {

long processId() {
#if defined(_WIN32)
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

// Unique across the test programs that run at the same time: the process id
// and the clock tell them apart, the counter the scripts of one program.
std::string tempScriptPath() {
    static int counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return (std::filesystem::temp_directory_path() / ("mistlock-script-" + std::to_string(processId()) + "-" +
                                                      std::to_string(stamp) + "-" + std::to_string(counter++) + ".txt"))
        .string();
}

#if defined(_WIN32)

// The build's paths are Linux paths; Wine reaches them through its Z: drive.
std::wstring windowsPath(const std::string& path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    std::wstring out(p.begin(), p.end());
    for (auto& c : out) {
        if (c == L'/') c = L'\\';
    }
    return out;
}

std::string runCaptured(const std::string& scriptPath, unsigned, const std::string& messengerOptions) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = CreateFileW(windowsPath(scriptPath).c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the script");
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + windowsPath(MISTLOCK_MESSENGER_EXE) + L"\" " +
                           std::wstring(messengerOptions.begin(), messengerOptions.end()) + L" \"" +
                           windowsPath(MISTLOCK_PLUGIN_PATH) + L"\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start mistlock-messenger");
    }
    CloseHandle(writeEnd);
    CloseHandle(input);
    std::string output;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) output.append(buffer, n);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return output;
}

#else

std::string runCaptured(const std::string& scriptPath, unsigned codePage, const std::string& messengerOptions) {
    std::string command = std::string("'") + MISTLOCK_MESSENGER_EXE + "'";
    if (codePage) command += " --codepage " + std::to_string(codePage);
    if (!messengerOptions.empty()) command += " " + messengerOptions;
    command += std::string(" '") + MISTLOCK_PLUGIN_PATH + "' < '" + scriptPath + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot start mistlock-messenger");
    std::string output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    if (pclose(pipe) != 0) throw std::runtime_error("mistlock-messenger failed");
    return output;
}

#endif

}  // namespace

std::string Line::operator[](const std::string& key) const {
    const auto it = fields.find(key);
    if (it == fields.end()) throw std::out_of_range("no field \"" + key + "\" in " + raw);
    return it->second;
}

Line parseLine(const std::string& json) {
    Line line;
    line.raw = json;
    std::size_t i = 0;
    auto expect = [&](char c) {
        while (i < json.size() && json[i] == ' ') ++i;
        if (i >= json.size() || json[i] != c) throw std::runtime_error("bad JSON line: " + json);
        ++i;
    };
    auto readString = [&]() {
        expect('"');
        std::string out;
        while (i < json.size() && json[i] != '"') {
            char c = json[i++];
            if (c == '\\') {
                const char e = json.at(i++);
                switch (e) {
                    case 'n': c = '\n'; break;
                    case 'r': c = '\r'; break;
                    case 't': c = '\t'; break;
                    case 'u': c = static_cast<char>(std::stoi(json.substr(i, 4), nullptr, 16)); i += 4; break;
                    default: c = e;
                }
            }
            out += c;
        }
        expect('"');
        return out;
    };
    expect('{');
    while (true) {
        const std::string key = readString();
        expect(':');
        if (json.at(i) == '"') {
            line.fields[key] = readString();
        } else {
            const std::size_t end = json.find_first_of(",}", i);
            line.fields[key] = json.substr(i, end - i);
            i = end;
        }
        if (json.at(i) == '}') break;
        expect(',');
    }
    return line;
}

std::vector<Line> runMessenger(const std::string& script, unsigned codePage, const std::string& messengerOptions) {
    const std::string path = tempScriptPath();
    {
        std::ofstream out(path, std::ios::binary);
        out << script;
    }
    std::string output;
    try {
        output = runCaptured(path, codePage, messengerOptions);
    } catch (...) {
        std::filesystem::remove(path);
        throw;
    }
    std::filesystem::remove(path);
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < output.size()) {
        std::size_t end = output.find('\n', pos);
        if (end == std::string::npos) end = output.size();
        std::string text = output.substr(pos, end - pos);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (!text.empty()) lines.push_back(parseLine(text));
        pos = end + 1;
    }
    return lines;
}

std::vector<Line> ofType(const std::vector<Line>& lines, const std::string& type) {
    std::vector<Line> out;
    for (const auto& line : lines) {
        if (line["type"] == type) out.push_back(line);
    }
    return out;
}

unsigned testCodePage() { return platform::ansiCodePage(); }

}  // namespace messenger_process
