#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "host/plugin.h"
#include "tests/support/odd_files.h"

namespace fs = std::filesystem;

namespace test_messenger {

thread_local int messengerCodeDepth = 0;

namespace {
TestMessenger* active = nullptr;
}

TestMessenger::TestMessenger() { active = this; }

TestMessenger::~TestMessenger() {
    if (host::initialised()) finalise();
    active = nullptr;
}

const void* TestMessenger::callback(const void* commandRecord) {
    const InMessengerCode inMessenger;
    TestMessenger& self = *active;
    self.commands.push_back(testing_records::bytesOf(commandRecord));
    if (self.reentry_ && static_cast<unsigned char>(self.commands.back()[5]) == self.reentryCode_) {
        const auto action = std::move(self.reentry_);
        self.reentry_ = nullptr;
        action();
    }
    if (self.answerNull) return nullptr;
    std::int32_t id = 0;
    if (self.commands.back().size() > 5 && static_cast<unsigned char>(self.commands.back()[5]) == 0xC9) {
        id = self.nextButtonId;
    }
    self.reply_ = testing_records::int32(4) + testing_records::int32(id);
    return self.reply_.data();
}

// The record lives until pluginFun returns, each call's its own: the host
// may call in again from inside one.
const void* TestMessenger::call(const std::string& record) {
    const std::string held = record;
    return pluginFun(held.data());
}

void TestMessenger::duringNextCommand(std::uint8_t commandCode, std::function<void()> action) {
    reentryCode_ = commandCode;
    reentry_ = std::move(action);
}

const void* TestMessenger::initialise(const std::string& folder) {
    return call(testing_records::initialise(reinterpret_cast<const void*>(&TestMessenger::callback), folder));
}

const void* TestMessenger::finalise() { return call(testing_records::event(2)); }

void (*TestMessenger::buttonProcedure() const)(std::int32_t) {
    for (auto it = commands.rbegin(); it != commands.rend(); ++it) {
        if (it->size() > 10 && static_cast<unsigned char>((*it)[5]) == 0xC9) {
            const std::int32_t low = testing_records::readInt32(it->data(), 6);
            return reinterpret_cast<void (*)(std::int32_t)>(static_cast<std::intptr_t>(low));
        }
    }
    return nullptr;
}

void TestMessenger::button(std::int32_t code) {
    const auto procedure = buttonProcedure();
    if (!procedure) throw std::logic_error("the plug-in has sent no add-button command");
    procedure(code);
}

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path path =
        fs::temp_directory_path() / ("mistlock-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(path);
    path_ = path.string();
}

TempFolder::~TempFolder() {
#if defined(_WIN32)
    if (odd_files::removeFolderHolding(path_)) return;
#endif
    std::error_code ignored;
    // Read-only files that a test left behind must not keep the folder alive.
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::string TempFolder::hostPath() const { return path_; }

std::string TempFolder::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string TempFolder::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file(name));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempFolder::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file(name));
}

bool TempFolder::exists(const std::string& name) const { return fs::exists(file(name)); }

}  // namespace test_messenger
