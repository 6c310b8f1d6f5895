#include "tests/windows/support/windows_support.h"

#include "tools/messenger/box_watch_win32.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace wintest {

std::wstring windowsPath(const std::string& path) {
    std::wstring out;
    // Wine shows the Linux root as drive Z:.
    if (!path.empty() && path[0] == '/') out = L"Z:";
    for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

void pumpMessages(int milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMilliseconds) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

namespace {

void setShift(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = keys[VK_LSHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

}  // namespace

void pressKey(UINT virtualKey, bool shift) {
    const HWND focus = GetFocus();
    if (!focus) throw std::runtime_error("no window has the focus");
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    setShift(shift);
    PostMessageW(focus, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageW(focus, WM_KEYUP, virtualKey, 1 | (scan << 16) | (1u << 30) | (1u << 31));
    // The message loop takes them while Shift is still held.
    pumpMessages(50);
    setShift(false);
}

void typeText(const std::u16string& text) {
    const HWND focus = GetFocus();
    if (!focus) throw std::runtime_error("no window has the focus");
    for (char16_t c : text) PostMessageW(focus, WM_CHAR, c, 1);
    pumpMessages(50);
}

std::u16string textOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    return std::u16string(text.begin(), text.begin() + std::max(copied, 0));
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// ---- Message boxes -------------------------------------------------------

MessageBoxes::MessageBoxes() {
    boxwatch::start([this](const boxwatch::SeenBox& box) {
        SeenBox seen;
        seen.caption.assign(box.caption.begin(), box.caption.end());
        seen.text.assign(box.text.begin(), box.text.end());
        seen.icon = box.error;
        seen.okOnly = box.okOnly;
        if (whileShown) seen.note = whileShown();
        this->seen.push_back(seen);
    });
}

MessageBoxes::~MessageBoxes() { boxwatch::stop(); }

// ---- The file chooser ----------------------------------------------------------

namespace {

ChooserScript* activeChooser = nullptr;

HWND ownedDialog(HWND owner) {
    for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window; window = GetWindow(window, GW_HWNDNEXT)) {
        if (classOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

constexpr int fileNameBox = 0x47C;  // cmb13
constexpr int fileTypeBox = 0x470;  // cmb1

}  // namespace

ChooserScript::ChooserScript(HWND owner, std::optional<std::wstring> answer)
    : owner_(owner), answer_(std::move(answer)), timer_(SetTimer(nullptr, 0, 50, &ChooserScript::tick)) {
    activeChooser = this;
}

ChooserScript::~ChooserScript() {
    KillTimer(nullptr, timer_);
    activeChooser = nullptr;
}

void CALLBACK ChooserScript::tick(HWND, UINT, UINT_PTR, DWORD) {
    ChooserScript* self = activeChooser;
    if (!self || self->answered) return;
    const HWND dialog = ownedDialog(self->owner_);
    if (!dialog) return;
    self->answered = true;
    self->title = std::wstring(reinterpret_cast<const wchar_t*>(textOf(dialog).c_str()));
    const HWND types = GetDlgItem(dialog, fileTypeBox);
    const int count = types ? static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0)) : 0;
    for (int i = 0; i < count; ++i) {
        wchar_t item[256] = {};
        if (SendMessageW(types, CB_GETLBTEXTLEN, i, 0) < 255) SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        self->filters.push_back(item);
    }
    if (self->answer_) {
        SetDlgItemTextW(dialog, fileNameBox, self->answer_->c_str());
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    } else {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    }
}

// ---- Scratch folders --------------------------------------------------------------

namespace {

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& nameHint) {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, length);
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    static unsigned counter = 0;
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        wchar_t suffix[40];
        swprintf(suffix, 40, L"-%lu-%u", GetCurrentProcessId(), counter++);
        std::wstring candidate = base + L"\\" + nameHint + suffix;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

std::u16string ScratchFolder::file16(const std::wstring& name) const {
    const std::wstring full = file(name);
    return std::u16string(full.begin(), full.end());
}

void ScratchFolder::write(const std::wstring& name, const std::string& bytes) const {
    const HANDLE handle =
        CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a test file");
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    if (written != bytes.size()) throw std::runtime_error("cannot write a test file");
}

std::string ScratchFolder::read(const std::wstring& name) const {
    const HANDLE handle = CreateFileW(file(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a test file");
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(handle);
    return content;
}

bool ScratchFolder::exists(const std::wstring& name) const {
    return GetFileAttributesW(file(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ScratchFolder::setReadOnly(const std::wstring& name, bool readOnly) const {
    SetFileAttributesW(file(name).c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

std::vector<std::wstring> ScratchFolder::entries() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace wintest
