#pragma once
// What the reference messenger needs from its operating system: loading the
// plug-in, seeing its message boxes, naming its icons, converting text the way
// the messenger does, and running a message loop.
#include <cstdint>
#include <functional>
#include <string>

namespace messenger {

using PluginFun = const void* (*)(const void*);
using ButtonProc = void (*)(std::int32_t);

struct MessageBoxSeen {
    std::string caption;  // UTF-8
    std::string text;     // UTF-8
    bool error = false;   // the toolkit's error box (error icon)
};

struct Options {
    unsigned codePage = 0;  // 0: the system's (Windows) or 1251 (headless)
    bool dismissBoxes = true;
    // Memory is taken at the plug-in's preferred base while it is loaded, so
    // that the loader must place it elsewhere (above 4 GB), as in a crowded
    // messenger.
    bool occupyPreferredBase = false;
};

// Loads the plug-in library and returns its pluginFun; exits with a message on failure.
PluginFun loadPlugin(const std::string& path, const Options& options,
                     std::function<void(const MessageBoxSeen&)> onMessageBox);

// Where the plug-in library was loaded (its first byte), 0 when not known.
std::uintptr_t pluginBase();

// The name of a plug-in icon handle ("ZEV", "ZEV_CRYPT"), or "" when unknown.
std::string iconName(std::uintptr_t handle);

// UTF-8 to the host's ANSI code page and back.
std::string toAnsi(const std::string& utf8Text);
std::string fromAnsi(const std::string& ansiText);

// A settings path as the plug-in should see it (on Windows a POSIX path from
// the script is reached through Wine's Z: drive).
std::string hostPath(const std::string& path);

// Serves pending window messages, so that the plug-in's windows work between commands.
void pumpMessages();

}  // namespace messenger
