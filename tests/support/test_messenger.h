#pragma once
// Plays the messenger in-process: calls pluginFun, answers the plug-in's
// command records through its callback, records them and the message boxes.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/box_recorder.h"
#include "tests/support/records.h"

namespace test_messenger {

// Above zero while the test messenger runs inside a call of the plug-in (its
// callback, a message box being recorded): a fault sweep injects failures
// into the plug-in's own work only.
extern thread_local int messengerCodeDepth;
struct InMessengerCode {
    InMessengerCode() { ++messengerCodeDepth; }
    ~InMessengerCode() { --messengerCodeDepth; }
    InMessengerCode(const InMessengerCode&) = delete;
    InMessengerCode& operator=(const InMessengerCode&) = delete;
};

class TestMessenger {
public:
    TestMessenger();
    // Finalises a plug-in left initialised, so the next test starts afresh.
    ~TestMessenger();

    const void* call(const std::string& record);
    const void* initialise(const std::string& folder);
    const void* finalise();
    // Calls the button procedure through the 32-bit address of the last add-button command.
    void button(std::int32_t code);
    // That address, widened as the host widens it; null before any add-button command.
    void (*buttonProcedure() const)(std::int32_t);

    // The command records the plug-in sent, whole.
    std::vector<std::string> commands;
    // The id the next add-button command gets; 0 answers with a null reply.
    std::int32_t nextButtonId = 7;
    bool answerNull = false;
    testing_boxes::BoxRecorder boxes;

    // The host calling in again while it handles a command: the action runs
    // from inside the callback the next time the plug-in sends a command with
    // this code, before the callback answers. Once.
    void duringNextCommand(std::uint8_t commandCode, std::function<void()> action);

    static const void* callback(const void* commandRecord);

private:
    std::string reply_;
    std::uint8_t reentryCode_ = 0;
    std::function<void()> reentry_;
};

// A fresh, empty folder for one test; removed at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    // The folder as an 8-bit path in the ANSI code page, as the host sends it
    // (no trailing separator).
    std::string hostPath() const;
    // A file inside it, as a path for std::filesystem.
    std::string file(const std::string& name) const;
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& bytes) const;
    bool exists(const std::string& name) const;

private:
    std::string path_;
};

}  // namespace test_messenger
