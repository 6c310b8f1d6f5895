// The file system failing under the plug-in, played through pluginFun and the
// toolbar button as the messenger plays them: a settings folder that is
// missing, read-only or a file; a settings file that is read-only, held open
// by someone else, or a folder; a disk that fills up half-way through a save;
// a key file that vanishes between its existence test and its read.
//
// In every case: no crash and nothing thrown into the host, an error box
// where the user acts that names the file and the cause, the old bytes of
// every settings file intact, no temporary file left, and after the cause is
// gone the same action succeeds.
//
// Natively no file can be held open against others, and the super-user
// ignores permissions: those cases stand in with permissions and run, built by
// root, a second time as an unprivileged user (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "host/plugin.h"
#include "platform/platform.h"
#include "platform/test_seams.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

namespace fs = std::filesystem;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

namespace {

const std::string kIni = "on\r\npass_check\r\nold password\r\n\r\n";
const std::string kWho = "12345\r\n777";
constexpr std::int32_t kListedUin = 12345;

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Every entry of a folder with its bytes; a subfolder shows as "<folder>".
std::map<std::string, std::string> contentsOf(const fs::path& folder) {
    std::map<std::string, std::string> out;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory()) {
            out[name] = "<folder>";
            continue;
        }
        std::FILE* f = std::fopen(entry.path().string().c_str(), "rb");
        std::string bytes;
        if (f) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
            std::fclose(f);
        } else {
            bytes = "<unreadable>";
        }
        out[name] = bytes;
    }
    return out;
}

std::string describe(const std::map<std::string, std::string>& contents) {
    std::string out;
    for (const auto& [name, bytes] : contents) out += name + "=" + hex(bytes) + " ";
    return out;
}

// True when this process cannot write a file whose write permission is gone,
// that is when permissions can stand in for a lock here.
bool permissionsAreEnforced() {
#if defined(_WIN32)
    return true;
#else
    return ::geteuid() != 0;
#endif
}

// Skips a case that needs permissions enforced, except in the run that exists
// for exactly those cases.
#define REQUIRE_ENFORCED_PERMISSIONS()                                                           \
    do {                                                                                         \
        if (!permissionsAreEnforced()) {                                                         \
            if (std::getenv("MISTLOCK_EXPECT_READ_ONLY")) FAIL() << "permissions are ignored here"; \
            GTEST_SKIP() << "the super-user ignores permissions; the unprivileged run covers this"; \
        }                                                                                        \
    } while (false)

// A file that nobody else may open: natively a file without any permission,
// under Windows a handle opened with share mode 0, as another program would.
class HeldOpen {
public:
    explicit HeldOpen(const fs::path& path) : path_(path) {
#if defined(_WIN32)
        handle_ = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << "cannot hold " << path.string();
#else
        fs::permissions(path, fs::perms::none);
#endif
    }
    ~HeldOpen() { release(); }
    // One holder per file: a copy would let go of it twice.
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    void release() {
#if defined(_WIN32)
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
#else
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ignored);
#endif
    }

private:
    fs::path path_;
#if defined(_WIN32)
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
};

void setReadOnly(const fs::path& path, bool readOnly) {
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
    SetFileAttributesW(path.wstring().c_str(),
                       readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY));
#else
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, write, readOnly ? fs::perm_options::remove : fs::perm_options::add);
#endif
}

std::string textOf(const testing_boxes::Box& box) { return utf8::encode(box.text); }

// The toolkit's error box. Under Wine its icon control has another id than
// under Windows, so the recorder may not see the icon; the caption tells too.
bool isErrorBox(const testing_boxes::Box& box) {
#if defined(_WIN32)
    return box.error || box.caption == u"Mistlock";
#else
    return box.error;
#endif
}

// One line per message box for the reliability report: what the user saw.
void report(const std::string& caseName, const testing_boxes::BoxRecorder& boxes) {
    if (boxes.boxes().empty()) std::printf("[fault-case] %s | nothing shown\n", caseName.c_str());
    for (const auto& box : boxes.boxes()) {
        const std::string kind = isErrorBox(box) ? "error box" : "message box \"" + utf8::encode(box.caption) + "\"";
        std::printf("[fault-case] %s | %s | %s\n", caseName.c_str(), kind.c_str(), utf8::encode(box.text).c_str());
    }
    std::fflush(stdout);
}

// ---- Saves that fail ---------------------------------------------------------

// A fault that makes saving fail. `prepare` runs once the plug-in has started,
// `arm` before each action that saves, `remove` takes the cause away.
struct SaveFault {
    const char* name;
    const char* failingFile;       // the file the error box must name
    const char* nativeCause;       // the cause it must give natively (strerror text)
    const char* folderSuffix;      // the settings path below the test folder; "" for the folder itself
    bool filesBeforeStart;         // the two settings files exist when the plug-in starts
    bool listCannotBeMade;         // opening the dialog fails to make the missing UIN list
    bool needsEnforcedPermissions;
    std::function<void(const fs::path& folder)> prepare;
    std::function<void()> arm;
    std::function<void(const fs::path& folder)> remove;
};

void nothing(const fs::path&) {}
void noArm() {}

std::vector<SaveFault> saveFaults() {
    static std::vector<std::unique_ptr<HeldOpen>> held;
    return {
        {"settings folder missing", "Mistlock.ini", "No such file or directory", "missing", false, true, false, nothing,
         noArm, [](const fs::path& folder) { fs::create_directories(folder); }},
        {"settings folder is a file", "Mistlock.ini", "Not a directory", "plain.txt", false, true, false, nothing, noArm,
         nullptr},
        {"settings file is a folder", "Mistlock.ini", "Is a directory", "", false, false, false,
         [](const fs::path& folder) { fs::create_directories(folder / "Mistlock.ini" / "inside"); }, noArm,
         [](const fs::path& folder) { fs::remove_all(folder / "Mistlock.ini"); }},
        {"settings file read-only", "Mistlock.ini", "Permission denied", "", true, false, true,
         [](const fs::path& folder) { setReadOnly(folder / "Mistlock.ini", true); }, noArm,
         [](const fs::path& folder) { setReadOnly(folder / "Mistlock.ini", false); }},
        {"settings file held open by another program", "Mistlock.ini", "Permission denied", "", true, false, true,
         [](const fs::path& folder) { held.push_back(std::make_unique<HeldOpen>(folder / "Mistlock.ini")); }, noArm,
         [](const fs::path&) { held.clear(); }},
        {"UIN list held open by another program", "MistlockWho.ini", "Permission denied", "", true, false, true,
         [](const fs::path& folder) { held.push_back(std::make_unique<HeldOpen>(folder / "MistlockWho.ini")); },
         noArm, [](const fs::path&) { held.clear(); }},
#if !defined(_WIN32)
        // A read-only folder does not keep files from being replaced under
        // Windows, and natively existing files are then rewritten in place:
        // only files still to be made cannot be.
        {"settings folder read-only, no settings files yet", "Mistlock.ini", "Permission denied", "", false, true, true,
         [](const fs::path& folder) {
             fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         noArm, [](const fs::path& folder) { fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add); }},
#endif
        {"disk full before the first byte of the settings file", "Mistlock.ini", "No space left on device", "", true, false,
         false, nothing, [] { platform::seams::failWrite(0, 0); }, [](const fs::path&) { platform::seams::clear(); }},
        {"disk full half-way through the settings file", "Mistlock.ini", "No space left on device", "", true, false, false,
         nothing, [] { platform::seams::failWrite(0, 9); }, [](const fs::path&) { platform::seams::clear(); }},
        {"disk full after the last byte of the settings file", "Mistlock.ini", "No space left on device", "", true, false,
         false, nothing, [] { platform::seams::failWrite(0, 1 << 20); },
         [](const fs::path&) { platform::seams::clear(); }},
        {"disk full half-way through the UIN list", "MistlockWho.ini", "No space left on device", "", true, false, false,
         nothing, [] { platform::seams::failWrite(1, 3); }, [](const fs::path&) { platform::seams::clear(); }},
    };
}

class SaveFaults : public ::testing::TestWithParam<SaveFault> {
protected:
    void TearDown() override { platform::seams::clear(); }
};

// The error box a failed save must show: the file, and natively the cause.
void expectSaveError(const testing_boxes::BoxRecorder& boxes, const SaveFault& fault) {
    ASSERT_EQ(boxes.boxes().size(), 1u) << "exactly one box per failed action";
    const auto& box = boxes.boxes()[0];
    EXPECT_TRUE(isErrorBox(box)) << textOf(box);
    // A file held by another program fails already where the save reads what
    // it would replace.
    const bool named = textOf(box).find("Cannot write the file") != std::string::npos ||
                       textOf(box).find("Cannot open the file") != std::string::npos;
    EXPECT_TRUE(named) << textOf(box);
    EXPECT_NE(textOf(box).find(fault.failingFile), std::string::npos) << textOf(box);
#if !defined(_WIN32)
    EXPECT_NE(textOf(box).find(fault.nativeCause), std::string::npos) << textOf(box);
#endif
}

TEST_P(SaveFaults, NothingIsLostAndTheUserIsTold) {
    const SaveFault& fault = GetParam();
    if (fault.needsEnforcedPermissions) REQUIRE_ENFORCED_PERMISSIONS();
    TempFolder test;
    const fs::path root = test.hostPath();
    const fs::path folder = *fault.folderSuffix ? root / fault.folderSuffix : root;
    if (std::string(fault.folderSuffix) == "plain.txt") test.write("plain.txt", "not a folder");
    if (fault.filesBeforeStart) {
        test.write("Mistlock.ini", kIni);
        test.write("MistlockWho.ini", kWho);
    }
    std::string hostPath = test.hostPath();
    if (*fault.folderSuffix) hostPath += kSeparator + std::string(fault.folderSuffix);

    TestMessenger plugin;
    ASSERT_NE(plugin.initialise(hostPath), nullptr);
    EXPECT_TRUE(plugin.boxes.boxes().empty()) << textOf(plugin.boxes.boxes().at(0));
    const bool startedOn = setpassform::encryptionSwitch;
    fault.prepare(folder);
    const auto before = contentsOf(root);

    // The toolbar button switches encryption and saves.
    fault.arm();
    plugin.button(0);
    report(std::string(fault.name) + ": switching encryption", plugin.boxes);
    expectSaveError(plugin.boxes, fault);
    EXPECT_NE(setpassform::encryptionSwitch, startedOn) << "the switch itself still changes";
    auto after = contentsOf(root);
    if (std::string(fault.failingFile) == "MistlockWho.ini" && fault.filesBeforeStart) {
        // The settings file was written whole before the list failed.
        EXPECT_EQ(after["Mistlock.ini"].substr(0, 5), startedOn ? "off\r\n" : "on\r\n");
        after["Mistlock.ini"] = before.at("Mistlock.ini");
    }
    EXPECT_EQ(describe(after), describe(before)) << "a file was changed, lost or left behind";

    // The settings dialog opens; a missing UIN list cannot be made, and says so.
    plugin.boxes.clear();
    plugin.button(1);
    ASSERT_NE(setpassform::setpass, nullptr);
    EXPECT_TRUE(setpassform::setpass->visible());
    if (fault.listCannotBeMade) {
        report(std::string(fault.name) + ": opening the settings dialog", plugin.boxes);
        ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
        EXPECT_NE(textOf(plugin.boxes.boxes()[0]).find("MistlockWho.ini"), std::string::npos);
    } else {
        EXPECT_TRUE(plugin.boxes.boxes().empty());
    }

    // OK in the dialog saves; the save fails, the dialog stays open with the edit.
    plugin.boxes.clear();
    setpassform::setpass->Edit1.setText(u"new password");
    const auto beforeClose = contentsOf(root);
    fault.arm();
    setpassform::setpass->SaveBtn.click();
    report(std::string(fault.name) + ": OK in the settings dialog", plugin.boxes);
    expectSaveError(plugin.boxes, fault);
    EXPECT_TRUE(setpassform::setpass->visible()) << "the dialog must stay open after a failed save";
    EXPECT_EQ(setpassform::setpass->Edit1.text(), u"new password");
    after = contentsOf(root);
    if (std::string(fault.failingFile) == "MistlockWho.ini" && fault.filesBeforeStart) {
        after["Mistlock.ini"] = beforeClose.at("Mistlock.ini");
    }
    EXPECT_EQ(describe(after), describe(beforeClose)) << "a file was changed, lost or left behind";

    // A message to a listed contact is still handled: sealed, or let through
    // unchanged when the list file is missing, never lost.
    plugin.boxes.clear();
    const void* reply = plugin.call(messageToSend(kListedUin, "still works"));
    if (reply) {
        EXPECT_EQ(static_cast<unsigned char>(bytesOf(reply)[4]), 2u);
        EXPECT_EQ(replyString(reply, 0).rfind("#MSTLK:", 0), 0u);
    }
    EXPECT_TRUE(plugin.boxes.boxes().empty());

    if (!fault.remove) return;
    // Once the cause is gone, OK saves everything and closes the dialog.
    fault.remove(folder);
    plugin.boxes.clear();
    setpassform::setpass->SaveBtn.click();
    EXPECT_TRUE(plugin.boxes.boxes().empty()) << textOf(plugin.boxes.boxes().at(0));
    EXPECT_FALSE(setpassform::setpass->visible());
    const auto saved = contentsOf(folder);
    const std::string expectedIni =
        std::string(setpassform::encryptionSwitch ? "on" : "off") + "\r\npass_check\r\nnew password\r\n\r\n";
    EXPECT_EQ(saved.count("Mistlock.ini") ? saved.at("Mistlock.ini") : "<none>", expectedIni);
    EXPECT_EQ(saved.count("MistlockWho.ini") ? saved.at("MistlockWho.ini") : "<none>",
              fault.filesBeforeStart ? kWho : "");
    EXPECT_EQ(saved.size(), 2u) << describe(saved);
}

INSTANTIATE_TEST_SUITE_P(Faults, SaveFaults, ::testing::ValuesIn(saveFaults()), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

// ---- Files that cannot be read when the messenger starts ---------------------

struct StartFault {
    const char* name;
    const char* heldFile;
};

class LockedAtStart : public ::testing::TestWithParam<StartFault> {};

TEST_P(LockedAtStart, PluginStartsAndReportsTheFile) {
    REQUIRE_ENFORCED_PERMISSIONS();
    TempFolder test;
    test.write("Mistlock.ini", kIni);
    test.write("MistlockWho.ini", kWho);
    const auto before = contentsOf(test.hostPath());
    HeldOpen held(test.file(GetParam().heldFile));

    TestMessenger plugin;
    const void* reply = plugin.initialise(test.hostPath());
    report(std::string(GetParam().name), plugin.boxes);
    ASSERT_NE(reply, nullptr) << "the plug-in must start all the same";
    EXPECT_TRUE(host::initialised());
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
    const auto& box = plugin.boxes.boxes()[0];
    EXPECT_TRUE(isErrorBox(box));
    EXPECT_NE(textOf(box).find("Cannot open the file"), std::string::npos) << textOf(box);
    EXPECT_NE(textOf(box).find(GetParam().heldFile), std::string::npos) << textOf(box);
#if !defined(_WIN32)
    EXPECT_NE(textOf(box).find(std::strerror(EACCES)), std::string::npos) << textOf(box);
#endif
    // The other file loads all the same. A held settings file leaves the
    // switch off, and the icon says so; a held list leaves nobody known to be
    // unlisted, so with the switch on every message is held back.
    const bool settingsFileHeld = std::string(GetParam().heldFile) == "Mistlock.ini";
    EXPECT_EQ(setpassform::encryptionSwitch, !settingsFileHeld);
    EXPECT_EQ(setpassform::setpass->Edit1.text(), settingsFileHeld ? u"" : u"old password");
    EXPECT_EQ(setpassform::setpass->Memo1.text(), settingsFileHeld ? platform::widen(kWho) : u"");
    plugin.boxes.clear();
    const void* sent = plugin.call(messageToSend(kListedUin, "not sealed with an unread password"));
    if (settingsFileHeld) {
        EXPECT_EQ(sent, nullptr) << "the switch is off";
    } else {
        ASSERT_NE(sent, nullptr);
        EXPECT_EQ(bytesOf(sent), std::string("\x01\x00\x00\x00\x04", 5));
        ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
        EXPECT_NE(textOf(plugin.boxes.boxes()[0]).find("MistlockWho.ini"), std::string::npos);
    }
    held.release();
    EXPECT_EQ(describe(contentsOf(test.hostPath())), describe(before));

    // A toggle writes neither unread file: only the loaded one is saved.
    plugin.boxes.clear();
    plugin.button(0);
    auto after = contentsOf(test.hostPath());
    EXPECT_EQ(after.count("Mistlock.ini.bad") + after.count("MistlockWho.ini.bad"), 0u);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
    EXPECT_EQ(after["Mistlock.ini"], settingsFileHeld ? kIni : "off\r\npass_check\r\nold password\r\n\r\n");
    EXPECT_EQ(after["MistlockWho.ini"], kWho);
}

INSTANTIATE_TEST_SUITE_P(Faults, LockedAtStart,
                         ::testing::Values(StartFault{"settings file held open at start", "Mistlock.ini"},
                                           StartFault{"UIN list held open at start", "MistlockWho.ini"}),
                         [](const auto& info) {
                             return std::string(info.param.heldFile) == "Mistlock.ini" ? "SettingsFile" : "UinList";
                         });

// ---- A UIN list whose existence cannot be told ----------------------------------

// Whether the contact's messages are to be encrypted cannot be known: the
// message is held back, never sent in clear.
TEST(UinListOutOfReach, WhenSendingTheMessageIsHeldBack) {
    TempFolder test;
    test.write("Mistlock.ini", kIni);
    test.write("MistlockWho.ini", kWho);
    TestMessenger plugin;
    ASSERT_NE(plugin.initialise(test.hostPath()), nullptr);
    platform::seams::failFileOperation(1);  // the list's existence test
    const void* reply = plugin.call(messageToSend(kListedUin, "secret"));
    platform::seams::clear();
    report("UIN list out of reach when sending", plugin.boxes);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004") << "the cancel reply: the message is not sent";
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
    EXPECT_EQ(plugin.boxes.boxes()[0].text, u"Ошибка при шифровании сообщения, отправка отменена.");
}

// ---- A key file that vanishes after its existence test -------------------------

std::u16string vanishing;  // the path of the key file that disappears once found

void deleteOnceFound(const std::u16string& path, bool exists) {
    if (!exists || vanishing.empty() || path != vanishing) return;
    std::u16string onDisk = path;
#if !defined(_WIN32)
    for (char16_t& c : onDisk) {
        if (c == u'\\') c = u'/';
    }
#endif
    std::error_code ignored;
    fs::remove(fs::path(onDisk), ignored);
}

class KeyFileVanishes : public ::testing::Test {
protected:
    void SetUp() override {
        test.write("Mistlock.ini", "on\r\nfile_check\r\n\r\nkey.txt\r\n");
        test.write("MistlockWho.ini", kWho);
        test.write("key.txt", "the key line\r\n");
        ASSERT_NE(plugin.initialise(test.hostPath()), nullptr);
        // What the plug-in seals and opens while the key file is there.
        const void* sealed = plugin.call(messageToSend(kListedUin, "hello"));
        ASSERT_NE(sealed, nullptr);
        envelope = replyString(sealed, 0);
        vanishing = platform::widen(setpassform::settingsFolder) + u"key.txt";
        platform::seams::setAfterFileExists(&deleteOnceFound);
    }
    void TearDown() override {
        platform::seams::clear();
        vanishing.clear();
    }
    TempFolder test;
    TestMessenger plugin;
    std::string envelope;
};

TEST_F(KeyFileVanishes, OnReceiptTheEnvelopeIsShownWithTheErrorLine) {
    const void* reply = plugin.call(messageReceived(envelope));
    report("key file vanishes before it is read, on receipt", plugin.boxes);
    ASSERT_NE(reply, nullptr);
    const std::string shown = replyString(reply, 0);
    EXPECT_EQ(shown, platform::narrow(u"[Ошибка при расшифровке] Оригинальное сообщение:") + "\r\n" + envelope);
    EXPECT_TRUE(plugin.boxes.boxes().empty());
    EXPECT_FALSE(test.exists("key.txt"));
    std::printf("[fault-case] key file vanishes before it is read, on receipt | reply | %s\n",
                utf8::encode(platform::widen(shown.substr(0, shown.find('\r')))).c_str());
}

TEST_F(KeyFileVanishes, WhenSendingTheMessageIsHeldBackAndTheUserTold) {
    const void* reply = plugin.call(messageToSend(kListedUin, "secret"));
    report("key file vanishes before it is read, when sending", plugin.boxes);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(hex(bytesOf(reply)), "0100000004") << "the cancel reply: the message is not sent";
    ASSERT_EQ(plugin.boxes.boxes().size(), 1u);
    EXPECT_FALSE(isErrorBox(plugin.boxes.boxes()[0]));
    EXPECT_EQ(plugin.boxes.boxes()[0].text, u"Ошибка при шифровании сообщения, отправка отменена.");
    EXPECT_EQ(plugin.boxes.boxes()[0].caption, u"");
}

}  // namespace
