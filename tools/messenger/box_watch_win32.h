#pragma once
// Sees every message box that code on this thread shows and closes it as a
// user pressing OK would, after handing its caption, text and icon to a
// callback. Used by the reference messenger and by the Windows tests, so that
// scripted runs never wait for a user.
#include <functional>
#include <string>

namespace boxwatch {

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    bool error = false;   // shows an icon: the toolkit's error box
    bool okOnly = false;  // OK is its only button
};

// Starts watching this thread's message boxes; a second call replaces the
// callback. The callback runs while the box is up, before it is closed.
void start(std::function<void(const SeenBox&)> onBox);
void stop();

}  // namespace boxwatch
