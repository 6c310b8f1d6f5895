#include "tests/cli/cli_process.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>

#include "platform/utf8.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testing_cli {

namespace {

// Standard input, output and error go through files: no pipe can fill up
// while the other end waits.
struct TempFiles {
    fs::path in, out, err;
    TempFiles() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const std::string base = "mistlock-cli-" + std::to_string(stamp) + "-" + std::to_string(counter++);
        in = fs::temp_directory_path() / (base + ".in");
        out = fs::temp_directory_path() / (base + ".out");
        err = fs::temp_directory_path() / (base + ".err");
    }
    ~TempFiles() {
        std::error_code ignored;
        fs::remove(in, ignored);
        fs::remove(out, ignored);
        fs::remove(err, ignored);
    }
};

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)

std::wstring wide(const std::string& utf8Text) {
    const auto text = utf8::decode(utf8Text);
    if (!text) throw std::invalid_argument("argument is not UTF-8");
    return std::wstring(text->begin(), text->end());
}

// One argument as CommandLineToArgvW will split it back.
std::wstring quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(2 * backslashes + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

HANDLE inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE h = CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path.string());
    return h;
}

int runProcess(const std::vector<std::string>& args, const fs::path& input, const TempFiles& files) {
    std::wstring command = quoted(wide(programPath(MISTLOCK_CLI_EXE)));
    for (const auto& arg : args) command += L" " + quoted(wide(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(input, false);
    startup.hStdOutput = inheritable(files.out, true);
    startup.hStdError = inheritable(files.err, true);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    if (!started) throw std::runtime_error("cannot start mistlock.exe");
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

#else

int runProcess(const std::vector<std::string>& args, const fs::path& input, const TempFiles& files) {
    std::vector<char*> argv;
    std::string program = MISTLOCK_CLI_EXE;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot fork");
    if (pid == 0) {
        // No controlling terminal: a password prompt finds none, as in a script.
        setsid();
        const int in = open(input.c_str(), O_RDONLY);
        const int out = open(files.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(files.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status)) throw std::runtime_error("mistlock ended by a signal");
    return WEXITSTATUS(status);
}

#endif

}  // namespace

std::string programPath(const std::string& path) {
#if defined(_WIN32)
    std::string p = path;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (auto& c : p) {
        if (c == '/') c = '\\';
    }
    return p;
#else
    return path;
#endif
}

Result runCli(const std::vector<std::string>& args, const std::string& input) {
    TempFiles files;
    writeFile(files.in, input);
    Result result;
    result.status = runProcess(args, files.in, files);
    result.out = readFile(files.out);
    result.err = readFile(files.err);
    return result;
}

Result runCliReading(const std::vector<std::string>& args, const std::string& inputFile) {
    TempFiles files;
    Result result;
    result.status = runProcess(args, fs::u8path(inputFile), files);
    result.out = readFile(files.out);
    result.err = readFile(files.err);
    return result;
}

}  // namespace testing_cli
