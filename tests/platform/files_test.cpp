// The file layer's promises, natively and under Wine: whichever single file
// operation fails, a save leaves the old bytes or the new ones and nothing
// beside them; the old bytes survive even a failure of everything after the
// first fault; existence that cannot be told is an error, not "no file"; and
// natively, what the old file had beside its bytes survives a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "platform/test_seams.h"

namespace fs = std::filesystem;

namespace {

const std::string kOld = "on\r\npass_check\r\nold password\r\n\r\n";
const std::string kNew = "off\r\nfile_check\r\n\r\nkey.txt\r\n";
// Longer than kOld: a rewrite in place, or putting kOld back over it, must cut
// the file where its new content ends.
const std::string kLonger = "off\r\nfile_check\r\n\r\nC:\\Users\\me\\Documents\\keys\\mistlock.key\r\n";

std::string contentOf(const fs::path& path) {
    if (fs::is_directory(path)) return "<folder>";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<none>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What an action reports in its EFileError; empty when it succeeds.
std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EFileError& e) {
        return e.what();
    }
    return {};
}

#if !defined(_WIN32)
bool unprivileged() { return ::geteuid() != 0; }
#endif

// A folder for the settings and one that stands for the user's temporary
// folder, where copies of old bytes go while a file is rewritten in place.
class Folders {
public:
    Folders() {
        static int serial = 0;
        root_ = fs::temp_directory_path() / ("mistlock-platform-" + std::to_string(serial++) + "-" +
                                             std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(settings());
        fs::create_directories(copies());
#if defined(_WIN32)
        SetEnvironmentVariableW(L"TMP", copies().wstring().c_str());
#else
        ::setenv("TMPDIR", copies().c_str(), 1);
#endif
    }
    ~Folders() {
#if defined(_WIN32)
        SetEnvironmentVariableW(L"TMP", nullptr);
#else
        ::unsetenv("TMPDIR");
#endif
        std::error_code ignored;
        fs::permissions(settings(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }
    fs::path settings() const { return root_ / "settings"; }
    fs::path copies() const { return root_ / "copies"; }

private:
    fs::path root_;
};

// A test name from a case's description.
const auto caseName = [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
};

// ---- Every single operation failing in turn -------------------------------------

struct Sweep {
    const char* name;
    bool existing;    // the file is there before
    bool hardLinked;  // with a second name, other.ini
    bool createOnly;  // writeFileNew instead of writeFileReplacing
    int failing;      // how many operations fail from the nth on
    bool longer = false;  // kLonger saved instead of kNew
};

class EveryOperation : public ::testing::TestWithParam<Sweep> {
protected:
    void TearDown() override { platform::seams::clear(); }
};

TEST_P(EveryOperation, LeavesTheOldBytesOrTheNewAndNothingElse) {
    const Sweep& c = GetParam();
    const std::string& fresh = c.longer ? kLonger : kNew;
    int failures = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 400) << "the save never stops reaching the failure";
        Folders folders;
        const fs::path file = folders.settings() / "Mistlock.ini";
        std::vector<std::string> expectedNames = {"Mistlock.ini"};
        if (c.existing) put(file, kOld);
        if (c.hardLinked) {
            fs::create_hard_link(file, folders.settings() / "other.ini");
            expectedNames.push_back("other.ini");
        }
        platform::seams::failFileOperation(n, c.failing);
        const std::string message = failureOf([&] {
            c.createOnly ? platform::writeFileNew(file.u16string(), fresh)
                         : platform::writeFileReplacing(file.u16string(), fresh);
        });
        const bool reached = platform::seams::fileOperationsSeen() >= static_cast<std::size_t>(n);
        platform::seams::clear();
        SCOPED_TRACE(std::string(c.name) + ", operation " + std::to_string(n) + ": " + message);

        std::string oldBytesAt = file.string();
        if (message.empty()) {
            EXPECT_EQ(contentOf(file), fresh);
        } else {
            ++failures;
            EXPECT_NE(message.find(file.string()), std::string::npos);
            // When even putting the old bytes back failed, the message says
            // where they are.
            const std::string keptIn = "content is kept in \"";
            const auto kept = message.find(keptIn);
            if (kept != std::string::npos) {
                const auto start = kept + keptIn.size();
                oldBytesAt = message.substr(start, message.find('"', start) - start);
            }
            EXPECT_EQ(contentOf(oldBytesAt), c.existing ? kOld : "<none>");
        }
        if (c.hardLinked && oldBytesAt == file.string()) {
            EXPECT_EQ(contentOf(folders.settings() / "other.ini"), contentOf(file));
        }
        if (c.failing == 1) {
            // A single failure leaves no temporary file, backup or copy.
            if (!message.empty() && !c.existing) expectedNames.clear();
            EXPECT_EQ(namesIn(folders.settings()), expectedNames);
            EXPECT_EQ(namesIn(folders.copies()), std::vector<std::string>());
        }
        if (!reached) break;
    }
    EXPECT_GT(failures, 1) << "no operation was made to fail";
}

INSTANTIATE_TEST_SUITE_P(
    Files, EveryOperation,
    ::testing::Values(Sweep{"new file", false, false, false, 1}, Sweep{"existing file", true, false, false, 1},
                      Sweep{"hard-linked file", true, true, false, 1},
                      Sweep{"hard-linked file, longer new text", true, true, false, 1, true},
                      Sweep{"file that must not exist yet", false, false, true, 1},
                      Sweep{"existing file, everything failing after", true, false, false, 1000},
                      Sweep{"hard-linked file, everything failing after", true, true, false, 1000}),
    caseName);

TEST(Files, ANewFileNeverOverwritesAnExistingOne) {
    Folders folders;
    const fs::path file = folders.settings() / "Mistlock.ini.bad";
    put(file, kOld);
    const std::string message = failureOf([&] { platform::writeFileNew(file.u16string(), kNew); });
    EXPECT_NE(message.find("Cannot create the file \"" + file.string() + "\""), std::string::npos) << message;
    EXPECT_EQ(contentOf(file), kOld);
}

// ---- Existence -----------------------------------------------------------------

TEST(Files, ExistenceThatCannotBeToldIsAnError) {
    Folders folders;
    const fs::path file = folders.settings() / "Mistlock.ini";
    put(file, kOld);
    // As when the system refuses the question.
    platform::seams::failFileOperation(1);
    const std::string message = failureOf([&] { platform::fileExists(file.u16string()); });
    platform::seams::clear();
    EXPECT_EQ(message.rfind("Cannot reach the file \"" + file.string() + "\": ", 0), 0u) << message;
#if !defined(_WIN32)
    // A folder that may not be searched, with a file in it or not.
    if (!unprivileged()) GTEST_SKIP() << "the super-user may search every folder; the unprivileged run covers this";
    fs::permissions(folders.settings(), fs::perms::owner_read | fs::perms::owner_write);
    for (const char* name : {"Mistlock.ini", "missing.ini"}) {
        const fs::path hidden = folders.settings() / name;
        EXPECT_EQ(failureOf([&] { platform::fileExists(hidden.u16string()); }),
                  "Cannot reach the file \"" + hidden.string() + "\": Permission denied");
    }
#endif
}

#if !defined(_WIN32)

// ---- What a save keeps, natively -------------------------------------------------

struct Keeping {
    const char* name;
    bool needsUnprivileged;
    bool needsRoot;
    std::function<void(const fs::path& settings)> prepare;  // Mistlock.ini holds kOld before
    std::function<void(const fs::path& settings)> check;    // after the save of kNew
};

struct stat statOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

std::vector<Keeping> keepingCases() {
    return {
        {"a symbolic link stays a link to its target", false, false,
         [](const fs::path& s) {
             fs::create_directories(s / "real");
             fs::rename(s / "Mistlock.ini", s / "real" / "target.ini");
             fs::create_symlink("real/target.ini", s / "Mistlock.ini");
         },
         [](const fs::path& s) {
             EXPECT_TRUE(fs::is_symlink(s / "Mistlock.ini"));
             EXPECT_EQ(contentOf(s / "real" / "target.ini"), kNew);
             EXPECT_EQ(namesIn(s / "real"), std::vector<std::string>{"target.ini"});
         }},
        {"the mode stays", false, false, [](const fs::path& s) { ::chmod((s / "Mistlock.ini").c_str(), 0604); },
         [](const fs::path& s) { EXPECT_EQ(statOf(s / "Mistlock.ini").st_mode & 07777, 0604u); }},
        {"owner and group stay", false, true,
         [](const fs::path& s) { ASSERT_EQ(::chown((s / "Mistlock.ini").c_str(), 65534, 65534), 0); },
         [](const fs::path& s) {
             EXPECT_EQ(statOf(s / "Mistlock.ini").st_uid, 65534u);
             EXPECT_EQ(statOf(s / "Mistlock.ini").st_gid, 65534u);
         }},
        {"a folder where no file can be made still saves", true, false,
         [](const fs::path& s) { fs::permissions(s, fs::perms::owner_read | fs::perms::owner_exec); },
         [](const fs::path& s) { fs::permissions(s, fs::perms::owner_all); }},
    };
}

class SaveKeeps : public ::testing::TestWithParam<Keeping> {};

TEST_P(SaveKeeps, WhatTheOldFileHad) {
    const Keeping& c = GetParam();
    if (c.needsUnprivileged && !unprivileged()) GTEST_SKIP() << "the unprivileged run covers this";
    if (c.needsRoot && unprivileged()) GTEST_SKIP() << "only the super-user may give files away";
    Folders folders;
    const fs::path file = folders.settings() / "Mistlock.ini";
    put(file, kOld);
    c.prepare(folders.settings());
    EXPECT_EQ(failureOf([&] { platform::writeFileReplacing(file.u16string(), kNew); }), "");
    c.check(folders.settings());
    EXPECT_EQ(contentOf(file), kNew);
    EXPECT_EQ(namesIn(folders.copies()), std::vector<std::string>());
    const auto names = namesIn(folders.settings());
    EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) { return n[0] == '.'; }));
}

INSTANTIATE_TEST_SUITE_P(Files, SaveKeeps, ::testing::ValuesIn(keepingCases()), caseName);

// ---- What ships has no seams -------------------------------------------------------

std::string bytesOf(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ShippedBinaries, HoldNoFileSeams) {
    const std::string mark = platform::seams::buildMark;
    const std::string seamLibrary = bytesOf(MISTLOCK_SEAM_LIBRARY);
    ASSERT_NE(seamLibrary.find(mark), std::string::npos) << "the check would find nothing anywhere";
    for (const char* shipped : {MISTLOCK_PLUGIN_LIBRARY, MISTLOCK_CLI_PROGRAM}) {
        const std::string bytes = bytesOf(shipped);
        ASSERT_GT(bytes.size(), 10000u) << shipped;
        EXPECT_EQ(bytes.find(mark), std::string::npos) << shipped;
        EXPECT_EQ(bytes.find("failFileOperation"), std::string::npos) << shipped;
    }
}

#endif

}  // namespace
