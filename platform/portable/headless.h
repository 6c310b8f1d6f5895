#pragma once
// Controls of the headless platform layer, for the tests and the reference messenger.
// The shipped Windows plug-in has none of this.
#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace platform::headless {

// The code page that stands for the system ANSI code page: 1251 (the default)
// or 1252.
void setAnsiCodePage(unsigned codePage);

// Receives every message box instead of a user: its text, its caption and
// whether it is the toolkit's error box (error icon, caption left to the toolkit).
using MessageBoxObserver =
    std::function<void(const std::u16string& text, const std::u16string& caption, bool errorBox)>;
void setMessageBoxObserver(MessageBoxObserver observer);

void setMonitorBounds(const MonitorBounds& bounds);

// The resource name of an icon handle given out by loadIcon, or nullptr.
const char16_t* iconName(IconHandle icon);

// What the next run of a file chooser answers: a file path as if confirmed by
// the user, or nothing as if cancelled.
void setOpenDialogAnswer(std::optional<std::u16string> answer);

// The file-system path that a Windows-style path names here: UTF-8, with
// backslashes turned into slashes.
std::string nativePath(const std::u16string& path);

}  // namespace platform::headless
