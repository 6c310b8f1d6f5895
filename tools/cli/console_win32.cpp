// The console on Windows. Pipes and files carry bytes unchanged (no text-mode
// translation); a console window is written and read in UTF-16, so UTF-8 text
// shows whatever the console's code page; the password is read from the
// console with its echo turned off.
#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include "crypto/wipe.h"
#include "platform/exception.h"
#include "platform/utf8.h"
#include "tools/cli/console.h"
#include "tools/cli/system_error_win32.h"

namespace cli {

std::string lastErrorText() {
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n ? utf8::encode(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n))
                         : "error " + std::to_string(code);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

namespace {

std::string utf8Of(const wchar_t* text, std::size_t length) {
    return utf8::encode(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

class HandleSource : public ByteSource {
public:
    HandleSource(HANDLE handle, std::string name, bool owned)
        : handle_(handle), name_(std::move(name)), owned_(owned), console_(isConsole(handle)) {}
    ~HandleSource() override {
        if (owned_) CloseHandle(handle_);
    }

    std::size_t read(char* buffer, std::size_t size) override {
        if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return 0;
        if (console_) return readConsole(buffer, size);
        DWORD n = 0;
        const DWORD wanted = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
        if (!ReadFile(handle_, buffer, wanted, &n, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer has finished
            throw EFileError("Cannot read " + name_ + ": " + lastErrorText());
        }
        return n;
    }
    std::uint64_t sizeHint() override {
        if (console_ || handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return 0;
        if (GetFileType(handle_) != FILE_TYPE_DISK) return 0;
        LARGE_INTEGER size, at, zero;
        zero.QuadPart = 0;
        if (!GetFileSizeEx(handle_, &size) || !SetFilePointerEx(handle_, zero, &at, FILE_CURRENT)) return 0;
        return at.QuadPart < size.QuadPart ? static_cast<std::uint64_t>(size.QuadPart - at.QuadPart) : 0;
    }

private:
    // Typed text, as UTF-8. Ctrl+Z at the start of a line ends it, as in any
    // console program; so does Ctrl+D, which is what Unix users reach for.
    std::size_t readConsole(char* buffer, std::size_t size) {
        while (typed_.empty() && !ended_) {
            wchar_t chars[4096];
            DWORD n = 0;
            if (!ReadConsoleW(handle_, chars, 4096, &n, nullptr)) {
                throw EFileError("Cannot read " + name_ + ": " + lastErrorText());
            }
            if (n == 0 || chars[0] == 0x1A || chars[0] == 0x04) {
                ended_ = true;
                break;
            }
            std::wstring text = high_ + std::wstring(chars, n);
            high_.clear();
            if (text.back() >= 0xD800 && text.back() <= 0xDBFF) {
                high_ = text.back();
                text.pop_back();
            }
            typed_ = utf8Of(text.data(), text.size());
        }
        const std::size_t n = typed_.size() < size ? typed_.size() : size;
        typed_.copy(buffer, n);
        typed_.erase(0, n);
        return n;
    }

    HANDLE handle_;
    std::string name_;
    bool owned_;
    bool console_;
    bool ended_ = false;
    std::string typed_;
    std::wstring high_;  // a high surrogate waiting for its pair
};

void writeTo(HANDLE handle, std::string_view bytes, const char* name) {
    if (isConsole(handle)) {
        if (const auto text = utf8::decode(bytes)) {
            const auto* chars = reinterpret_cast<const wchar_t*>(text->data());
            std::size_t left = text->size();
            while (left) {
                DWORD n = 0;
                const DWORD piece = static_cast<DWORD>(left > 8192 ? 8192 : left);
                if (!WriteConsoleW(handle, chars, piece, &n, nullptr) || n == 0) {
                    throw Exception(std::string("Cannot write to ") + name + ": " + lastErrorText());
                }
                chars += n;
                left -= n;
            }
            return;
        }
    }
    while (!bytes.empty()) {
        DWORD n = 0;
        const DWORD piece = static_cast<DWORD>(bytes.size() > (1u << 30) ? (1u << 30) : bytes.size());
        if (!WriteFile(handle, bytes.data(), piece, &n, nullptr)) {
            throw Exception(std::string("Cannot write to ") + name + ": " + lastErrorText());
        }
        bytes.remove_prefix(n);
    }
}

// The console input's mode while echo is off, restored when Ctrl+C or
// closing the window ends the program mid-prompt.
HANDLE promptInput = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;

BOOL WINAPI restoreOnControl(DWORD) {
    if (promptInput != INVALID_HANDLE_VALUE) SetConsoleMode(promptInput, savedMode);
    return FALSE;
}

class WindowsConsole : public Console {
public:
    WindowsConsole() : stdin_(GetStdHandle(STD_INPUT_HANDLE), "standard input", false) {}

    ByteSource& input() override { return stdin_; }

    std::unique_ptr<ByteSource> openFile(const std::string& path, const std::string& what) override {
        return openReadableFile(path, what);
    }

    void writeOutput(std::string_view bytes) override {
        if (out_) {
            out_->write(bytes);
        } else {
            writeTo(GetStdHandle(STD_OUTPUT_HANDLE), bytes, "standard output");
        }
    }

    bool inputIsTerminal() override { return isConsole(GetStdHandle(STD_INPUT_HANDLE)); }
    bool outputIsTerminal() override { return !out_ && isConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

    void sendOutputTo(const std::string& path, bool mustBeNew) override {
        out_ = std::make_unique<OutputFile>(path, mustBeNew);
    }
    void commitOutput() override {
        if (out_) out_->commit();
    }
    std::optional<FileId> inputId() override { return standardInputId(); }
    unsigned systemCodePage() override { return GetACP(); }

    void writeError(std::string_view text) override { writeTo(GetStdHandle(STD_ERROR_HANDLE), text, "standard error"); }

    std::optional<std::string> askPassword(const std::string& prompt) override {
        const HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        if (!isConsole(in)) {
            if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
            return std::nullopt;
        }
        const HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
        if (out != INVALID_HANDLE_VALUE) writeTo(out, prompt, "the console");

        GetConsoleMode(in, &savedMode);
        promptInput = in;
        SetConsoleCtrlHandler(restoreOnControl, TRUE);
        SetConsoleMode(in, (savedMode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
        // The password as typed, wiped once converted; room enough that it
        // never moves to a larger buffer and leaves the old one behind.
        std::wstring line;
        line.reserve(1024);
        const ElAES::WipeOnExit wipeLine(line);
        wchar_t chars[256];
        const ElAES::WipeOnExit wipeChars(chars);
        bool complete = false;
        for (;;) {
            DWORD n = 0;
            if (!ReadConsoleW(in, chars, 256, &n, nullptr) || n == 0) break;
            line.append(chars, n);
            const auto end = line.find_first_of(L"\r\n");
            if (end != std::wstring::npos) {
                line.resize(end);
                complete = true;
                break;
            }
        }
        SetConsoleMode(in, savedMode);
        SetConsoleCtrlHandler(restoreOnControl, FALSE);
        promptInput = INVALID_HANDLE_VALUE;
        if (out != INVALID_HANDLE_VALUE) {
            writeTo(out, "\n", "the console");
            CloseHandle(out);
        }
        CloseHandle(in);
        if (!complete) throw Exception("The console closed before a password was typed.");
        return utf8Of(line.data(), line.size());
    }

private:
    HandleSource stdin_;
    std::unique_ptr<OutputFile> out_;
};

}  // namespace

std::unique_ptr<ByteSource> openReadableFile(const std::string& path, const std::string& what) {
    const std::string named = what + " \"" + path + "\"";
    const auto wide = utf8::decode(path);
    if (!wide) throw EFileError("The name of the " + named + " is not valid UTF-8.");
    const auto* name = reinterpret_cast<const wchar_t*>(wide->c_str());
    const HANDLE handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            throw EFileError("The " + named + " is not a file but a folder.");
        }
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw EFileError("The " + named + " does not exist.");
        }
        SetLastError(error);
        throw EFileError("Cannot open the " + named + ": " + lastErrorText());
    }
    return std::make_unique<HandleSource>(handle, "the " + named, true);
}

std::unique_ptr<Console> systemConsole() { return std::make_unique<WindowsConsole>(); }

void systemRandomBytes(unsigned char* out, std::size_t size) {
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(size > (1u << 20) ? (1u << 20) : size);
        if (BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) {
            throw Exception("The system's random generator failed.");
        }
        out += piece;
        size -= piece;
    }
}

std::vector<std::string> commandLineArguments(int, char**) {
    // The arguments as typed, in UTF-16, not as the ANSI code page can hold them.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    if (!wide) return args;
    for (int i = 1; i < count; ++i) args.push_back(utf8Of(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    return args;
}

}  // namespace cli
