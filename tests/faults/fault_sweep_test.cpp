// One whole session of a user, run again and again with exactly one thing
// failing each time: the Nth file operation, or (natively) the Nth
// allocation the plug-in makes, for N = 1, 2, ... until a run completes
// without reaching the failure. Every run must keep three promises:
//   - nothing is thrown into the host;
//   - while the icon the host shows says encryption is on, a message to a
//     listed contact never leaves in clear, and is never sealed under any key
//     but the user's;
//   - no byte of either settings file is lost: each file ends as it was (the
//     switch line aside, which the session changes) or is kept beside it;
//   - a file that did not load is not replaced until the user has confirmed
//     the dialog.
// A second scenario spans two sessions: start, send, toggle, finalise with
// the failure in that first one, then start again and send.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "platform/lines.h"
#include "platform/platform.h"
#include "platform/test_seams.h"
#include "platform/text_file.h"
#include "settings/setpassform.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"
#include "tests/support/allocation_hook.h"

namespace fs = std::filesystem;
using namespace testing_records;
using test_messenger::TestMessenger;
using test_messenger::TempFolder;

// ---- Allocations that fail on demand ------------------------------------------

namespace {

bool allocationsArmed = false;

// ---- The session -----------------------------------------------------------------

const std::string kIni = "off\r\npass_check\r\ncorrect horse\r\nC:\\keys\\k.txt\r\n";
const std::string kWho = "111111\r\n222222";
constexpr std::int32_t kListed = 111111;
const std::string kMessage = "hello";

// What a session starts from: the password above, or a sealed key file whose
// nonce each session replays, so that its envelope is the same in every run.
struct Keys {
    std::string ini;
    std::string keyFile;  // k.key, when not empty
};
const Keys kPassword = {kIni, ""};
const Keys kSealedKeyFile = {"off\r\nfile_check\r\n\r\nk.key\r\n",
                             "correct horse battery staple\r\nMistlock-Sealed: 2\r\n"};

// One kind of fault: arms the Nth failure, and says how many of its
// operations were seen since.
struct Injector {
    const char* what;
    std::function<void(long n)> arm;
    std::function<long()> seen;
    std::function<void()> disarm;
    bool perCall;  // armed only inside the plug-in's calls
};

struct Session {
    std::vector<std::string> problems;
    std::string envelope;  // what the send was sealed to, if it was
    std::string opened;    // what the receipt gave, if a text
};

std::vector<std::string> linesOf(const std::string& bytes) {
    std::vector<std::string> lines;
    for (const std::u16string& l : platform::splitLines(platform::untilNul(platform::decodeText(bytes, "").text))) {
        lines.emplace_back(l.begin(), l.end());
    }
    return lines;
}

class Sweep {
public:
    // Two sessions: start, send, toggle, finalise, with the failure in this
    // first one; then start again and send.
    Sweep(const Injector& injector, bool twoSessions, const Keys& keys)
        : in_(injector), twoSessions_(twoSessions), keys_(keys) {}

    // Runs the scenario with the Nth operation failing (0: none).
    Session run(long n, const std::string& golden) {
        Session s;
        TempFolder folder;
        folder.write("Mistlock.ini", keys_.ini);
        folder.write("MistlockWho.ini", kWho);
        if (!keys_.keyFile.empty()) folder.write("k.key", keys_.keyFile);
        bool unread[2] = {false, false};
        session(s, folder, n, [&](TestMessenger& plugin, void (*button)(std::int32_t)) {
            if (twoSessions_) {
                unread[0] = !setpassform::loaded(setpassform::SettingsFile::Settings);
                unread[1] = !setpassform::loaded(setpassform::SettingsFile::UinList);
                send(s, plugin, "");
                if (button) calling(s, [&] { button(0); });
                return;
            }
            if (button) {
                calling(s, [&] { button(0); });  // switch on
                calling(s, [&] { button(1); });  // open the settings
                if (setpassform::setpass) calling(s, [&] { setpassform::setpass->SaveBtn.click(); });  // and OK
            }
            send(s, plugin, golden);
            receive(s, golden);
        });
        // What the dialog holds of a file that did not load is a fragment at
        // best: written, it would load in the next session as the user's.
        if (unread[0] && folder.read("Mistlock.ini") != keys_.ini) s.problems.push_back("unread Mistlock.ini replaced");
        if (unread[1] && folder.read("MistlockWho.ini") != kWho) s.problems.push_back("unread list replaced");
        if (twoSessions_) session(s, folder, 0, [&](TestMessenger& plugin, auto) { send(s, plugin, golden); });
        checkFiles(s, folder);
        return s;
    }

    // How many operations the last run counted.
    long seen() const { return seen_; }

private:
    const Injector& in_;
    const bool twoSessions_;
    const Keys& keys_;
    long seen_ = 0;

    // Initialise, what the scenario does, finalise; with the Nth operation
    // from the start failing when n > 0.
    template <typename Middle>
    void session(Session& s, const TempFolder& folder, long n, const Middle& middle) {
        TestMessenger plugin;
        const std::string init = initialise(reinterpret_cast<const void*>(&TestMessenger::callback), folder.hostPath());
        const std::string finalise = event(2);
        if (!keys_.keyFile.empty()) platform::seams::replayRandomBytes(std::string(12, '\x5A'));
        if (n > 0) in_.arm(n);
        calling(s, [&] { pluginFun(init.data()); });
        middle(plugin, plugin.buttonProcedure());
        calling(s, [&] { pluginFun(finalise.data()); });
        if (n > 0) seen_ = in_.seen();
        in_.disarm();
        plugin.commands.clear();
    }

    // One call into the plug-in, as the host makes it.
    template <typename Call>
    void calling(Session& s, const Call& call) {
        if (in_.perCall) allocationsArmed = true;
        try {
            call();
        } catch (...) {
            s.problems.push_back("an exception reached the host");
        }
        allocationsArmed = false;
    }

    // Whether the host shows the "on" icon: the last add or update command's.
    static bool iconSaysOn(const TestMessenger& plugin) {
        for (auto it = plugin.commands.rbegin(); it != plugin.commands.rend(); ++it) {
            const auto code = static_cast<unsigned char>((*it)[5]);
            if (code != 0xC9 && code != 0xCA) continue;
            const auto on = static_cast<std::uint32_t>(platform::loadIcon(u"ZEV_CRYPT"));
            return static_cast<std::uint32_t>(readInt32(it->data(), 10)) == on;
        }
        return false;
    }

    void send(Session& s, const TestMessenger& plugin, const std::string& golden) {
        const std::string record = messageToSend(kListed, kMessage);
        const void* reply = nullptr;
        calling(s, [&] { reply = pluginFun(record.data()); });
        const std::string bytes = reply ? bytesOf(reply) : std::string();
        if (bytes.size() > 5 && bytes[4] == '\x02') s.envelope = replyString(reply, 0);
        if (!s.envelope.empty() && !golden.empty() && s.envelope != golden) {
            s.problems.push_back("sealed under another key: " + s.envelope);
        }
        // After the user has seen and closed the dialog, its list is theirs.
        const auto* dialog = setpassform::setpass;
        bool listed = !dialog || !setpassform::loaded(setpassform::SettingsFile::UinList);
        if (dialog) {
            for (const auto& line : dialog->Memo1.lines()) listed = listed || line == u"111111";
        }
        if (iconSaysOn(plugin) && listed && !reply) s.problems.push_back("sent in clear while the icon said on");
    }

    void receive(Session& s, const std::string& golden) {
        if (golden.empty()) return;
        const std::string record = messageReceived(golden);
        const void* reply = nullptr;
        calling(s, [&] { reply = pluginFun(record.data()); });
        if (reply) s.opened = replyString(reply, 0);
    }

    void checkFiles(Session& s, const TempFolder& folder) const {
        const auto keptOrSame = [&](const char* name, const std::string& original, bool switchLineFree) {
            for (const char* suffix : {".bad", ".kept"}) {
                const std::string kept = name + std::string(suffix);
                if (folder.exists(kept) && folder.read(kept) == original) return;
            }
            if (!folder.exists(name)) return s.problems.push_back(std::string(name) + " is gone");
            std::vector<std::string> now = linesOf(folder.read(name)), was = linesOf(original);
            if (switchLineFree && !now.empty() && !was.empty()) now[0] = was[0];
            if (now != was) s.problems.push_back(std::string(name) + " lost its content");
        };
        keptOrSame("Mistlock.ini", keys_.ini, true);
        keptOrSame("MistlockWho.ini", kWho, false);
        for (const auto& entry : fs::directory_iterator(folder.file(""))) {
            const std::string name = entry.path().filename().string();
            if (name != "Mistlock.ini" && name != "MistlockWho.ini" && name != "k.key" && name.find(".bad") == std::string::npos &&
                name.find(".kept") == std::string::npos) {
                s.problems.push_back("left behind: " + name);
            }
        }
    }
};

// Runs the sweep for one kind of fault; returns how many operations the
// session makes.
long sweep(const Injector& injector, bool twoSessions = false, const Keys& keys = kPassword) {
    Sweep runner(injector, twoSessions, keys);
    const Session clean = runner.run(0, "");
    EXPECT_TRUE(clean.problems.empty()) << clean.problems.front();
    const char* marker = keys.keyFile.empty() ? "#MSTLK:" : "#MSTLK2:";
    EXPECT_EQ(clean.envelope.rfind(marker, 0), 0u) << "the session without faults must seal";
    const std::string golden = clean.envelope;
    long n = 1, faults = 0;
    for (;; ++n) {
        const Session s = runner.run(n, golden);
        for (const std::string& problem : s.problems) {
            ADD_FAILURE() << injector.what << " " << n << " failing: " << problem;
        }
        faults += s.problems.empty() ? 0 : 1;
        if (runner.seen() < n) break;  // the session ended before reaching it
    }
    std::printf("[sweep] %s: %ld in the %s%s, each failed once, %ld faults\n", injector.what, n - 1,
                twoSessions ? "first of two sessions" : "session", keys.keyFile.empty() ? "" : " with a sealed key file",
                faults);
    return n - 1;
}

Injector fileOperations() {
    return {"file operations", [](long n) { platform::seams::failFileOperation(static_cast<int>(n)); },
            [] { return static_cast<long>(platform::seams::fileOperationsSeen()); }, [] { platform::seams::clear(); },
            false};
}

TEST(FaultSweep, EveryFileOperationFailingOnce) { EXPECT_GT(sweep(fileOperations()), 20); }

// The sealed path reads its key file and asks the random source, each of
// which may fail too.
TEST(FaultSweep, SealedKeyFileWithEveryFileOperationFailingOnce) {
    EXPECT_GT(sweep(fileOperations(), false, kSealedKeyFile), 20);
    EXPECT_GT(sweep(fileOperations(), true, kSealedKeyFile), 10);
}

TEST(FaultSweep, SealedKeyFileWithEveryRequestToTheRandomSourceFailingOnce) {
    const Injector randomSource = {"requests to the random source",
                                   [](long n) { platform::seams::failRandomSource(1, static_cast<int>(n - 1)); },
                                   [] { return static_cast<long>(platform::seams::randomRequestsSeen()); },
                                   [] { platform::seams::clear(); }, false};
    EXPECT_EQ(sweep(randomSource, false, kSealedKeyFile), 1);
}

// The first session failing where a file loads or saves, the second must
// still never send in clear or seal under another key.
TEST(FaultSweep, TwoSessionsWithEveryFileOperationOfTheFirstFailingOnce) {
    EXPECT_GT(sweep(fileOperations(), true), 10);
}

#if !defined(_WIN32)
long allocationsSeen = 0;
long failingAllocation = 0;  // 0: none

// Fails the allocation that is the one to fail: only the plug-in's own,
// never the test's while it plays the host.
bool allowAllocation(std::size_t) {
    if (!allocationsArmed || test_messenger::messengerCodeDepth > 0) return true;
    return ++allocationsSeen != failingAllocation;
}

Injector allocations() {
    return {"allocations",
            [](long n) {
                allocationsSeen = 0;
                failingAllocation = n;
                allocation_hook::allow = allowAllocation;
            },
            [] { return allocationsSeen; },
            [] {
                failingAllocation = 0;
                allocation_hook::allow = nullptr;
            },
            true};
}

TEST(FaultSweep, EveryAllocationFailingOnce) { EXPECT_GT(sweep(allocations()), 100); }

TEST(FaultSweep, TwoSessionsWithEveryAllocationOfTheFirstFailingOnce) { EXPECT_GT(sweep(allocations(), true), 50); }

TEST(FaultSweep, SealedKeyFileWithEveryAllocationFailingOnce) {
    EXPECT_GT(sweep(allocations(), false, kSealedKeyFile), 100);
}
#endif

}  // namespace
