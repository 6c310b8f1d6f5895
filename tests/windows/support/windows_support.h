#pragma once
// What the Windows tests share: a message loop of their own (the host's
// stands in for none), keys and characters delivered to the focused window,
// a scripted file chooser, message boxes read and dismissed as a user would,
// and scratch folders.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/show_text.h"

namespace wintest {

using ::show;

// A path the build handed over (a Linux path under Wine) as Windows can open it.
std::wstring windowsPath(const std::string& path);

// Runs the thread's message loop, as a host would, without IsDialogMessage.
void pumpMessages(int milliseconds);
// Runs it until `done` holds; false on timeout.
bool pumpUntil(const std::function<bool()>& done, int timeoutMilliseconds = 5000);

// A key pressed and released at the focused window, through the message
// queue, with Shift held or not.
void pressKey(UINT virtualKey, bool shift = false);
// Characters typed at the focused window.
void typeText(const std::u16string& text);

std::u16string textOf(HWND window);
std::wstring classOf(HWND window);

// A message box seen on the screen.
struct SeenBox {
    std::u16string caption;
    std::u16string text;
    bool icon = false;   // shows an icon
    bool okOnly = false; // OK is its only button
    // What the test saw while the box was up, from `whileShown`.
    std::string note;
};

// While alive, every message box of this thread is read and closed with OK.
class MessageBoxes {
public:
    MessageBoxes();
    ~MessageBoxes();
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    std::vector<SeenBox> seen;
    // Runs while each box is up, before it is closed; its text lands in note.
    std::function<std::string()> whileShown;
};

// Answers the next file chooser owned by `owner`: types the path and
// presses Open, or presses Cancel when there is no path.
class ChooserScript {
public:
    ChooserScript(HWND owner, std::optional<std::wstring> answer);
    ~ChooserScript();
    ChooserScript(const ChooserScript&) = delete;
    ChooserScript& operator=(const ChooserScript&) = delete;

    bool answered = false;
    std::wstring title;
    std::vector<std::wstring> filters;  // the names in "Files of type"

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    HWND owner_;
    std::optional<std::wstring> answer_;
    UINT_PTR timer_;
};

// A fresh folder in the temporary folder, removed with everything in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& nameHint = L"mistlock");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }  // no trailing backslash
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    std::u16string file16(const std::wstring& name) const;
    void write(const std::wstring& name, const std::string& bytes) const;
    std::string read(const std::wstring& name) const;
    bool exists(const std::wstring& name) const;
    void setReadOnly(const std::wstring& name, bool readOnly) const;
    std::vector<std::wstring> entries() const;  // sorted names

private:
    std::wstring path_;
};

}  // namespace wintest
