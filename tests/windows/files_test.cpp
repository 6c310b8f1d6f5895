// Files through the Win32 layer: existence, whole reads, and replacement that
// leaves the old content whole when anything goes wrong and keeps what the
// old file had beside its bytes.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/test_seams.h"
#include "platform/utf8.h"
#include "tests/support/odd_files.h"
#include "tests/windows/support/windows_support.h"

namespace {

using wintest::ScratchFolder;

std::string allBytes() {
    std::string bytes;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    }
    return bytes;
}

// What a failure reports, as the user will read it.
template <typename Action>
std::string failureOf(Action action) {
    try {
        action();
    } catch (const EFileError& e) {
        return e.what();
    }
    return "(no EFileError)";
}

class Files : public ::testing::Test {
protected:
    ScratchFolder folder{L"mistlock-files"};
    std::u16string path(const std::wstring& name) const { return folder.file16(name); }
    std::string pathUtf8(const std::wstring& name) const { return utf8::encode(path(name)); }
    // Nothing but the named files is left in the folder: no temporary file.
    void expectOnly(std::vector<std::wstring> names) const {
        std::sort(names.begin(), names.end());
        EXPECT_EQ(folder.entries(), names);
    }
};

TEST_F(Files, ExistsOnlyForFiles) {
    folder.write(L"plain.txt", "x");
    folder.write(L"empty.txt", "");
    CreateDirectoryW(folder.file(L"sub").c_str(), nullptr);
    struct Case {
        std::u16string path;
        bool exists;
    } const cases[] = {
        {path(L"plain.txt"), true},
        {path(L"empty.txt"), true},
        {path(L"sub"), false},          // a folder is not a file
        {path(L"missing.txt"), false},
        {path(L"sub\\missing.txt"), false},
        {path(L"plain.txt\\inside.txt"), false},  // a file is no folder
        {path(L"C:\\key.txt"), false},            // a full path typed after the folder
        {path(L"a*b.txt"), false},                 // a name no file can have
        {u"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::fileExists(c.path), c.exists) << wintest::show(c.path);
}

TEST_F(Files, ReadGivesEveryByteExactly) {
    folder.write(L"bytes.bin", allBytes());
    EXPECT_EQ(platform::readFile(path(L"bytes.bin")), allBytes());
    folder.write(L"empty.bin", "");
    EXPECT_EQ(platform::readFile(path(L"empty.bin")), "");
}

TEST_F(Files, ReadsFilesWithCyrillicNames) {
    folder.write(L"\x041A\x043B\x044E\x0447.txt", "key");  // "Ключ.txt"
    EXPECT_TRUE(platform::fileExists(path(L"\x041A\x043B\x044E\x0447.txt")));
    EXPECT_EQ(platform::readFile(path(L"\x041A\x043B\x044E\x0447.txt")), "key");
}

TEST_F(Files, ReadFailureNamesTheFileAndTheCause) {
    const std::string message = failureOf([&] { platform::readFile(path(L"\x0424\x0430\x0439\x043B.txt")); });
    EXPECT_NE(message.find(pathUtf8(L"\x0424\x0430\x0439\x043B.txt")), std::string::npos) << message;
    // The system's own words for the cause follow the name.
    const std::string cause = utf8::encode(std::u16string(u": "));
    EXPECT_GT(message.size(), message.find(cause) + cause.size()) << message;
    EXPECT_TRUE(utf8::isValid(message));
}

TEST_F(Files, ReadOfAFolderFails) {
    CreateDirectoryW(folder.file(L"sub").c_str(), nullptr);
    EXPECT_THROW(platform::readFile(path(L"sub")), EFileError);
}

TEST_F(Files, ReadSharesWithProgramsThatShare) {
    folder.write(L"shared.txt", "content");
    // Another reader, or a writer that shares (a backup or sync program),
    // does not stand in the way.
    for (const DWORD access : {GENERIC_READ, GENERIC_READ | GENERIC_WRITE}) {
        HANDLE other = CreateFileW(folder.file(L"shared.txt").c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(platform::readFile(path(L"shared.txt")), "content") << access;
        CloseHandle(other);
    }
    // A writer holding the file exclusively does.
    HANDLE writer = CreateFileW(folder.file(L"shared.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_THROW(platform::readFile(path(L"shared.txt")), EFileError);
    CloseHandle(writer);
}

TEST_F(Files, WriteCreatesANewFile) {
    platform::writeFileReplacing(path(L"new.ini"), allBytes());
    EXPECT_EQ(folder.read(L"new.ini"), allBytes());
    expectOnly({L"new.ini"});
}

TEST_F(Files, WriteReplacesTheWholeContent) {
    folder.write(L"old.ini", std::string(5000, 'x'));
    platform::writeFileReplacing(path(L"old.ini"), "short");
    EXPECT_EQ(folder.read(L"old.ini"), "short");
    platform::writeFileReplacing(path(L"old.ini"), "");
    EXPECT_EQ(folder.read(L"old.ini"), "");
    expectOnly({L"old.ini"});
}

TEST_F(Files, WriteKeepsTheFilesAttributes) {
    folder.write(L"hidden.ini", "old");
    SetFileAttributesW(folder.file(L"hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
    platform::writeFileReplacing(path(L"hidden.ini"), "new");
    EXPECT_EQ(folder.read(L"hidden.ini"), "new");
    EXPECT_TRUE(GetFileAttributesW(folder.file(L"hidden.ini").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(Files, ReadOnlyTargetFailsClearlyAndStaysIntact) {
    folder.write(L"Mistlock.ini", "on\r\npass_check\r\nsecret\r\n\r\n");
    folder.setReadOnly(L"Mistlock.ini", true);
    const std::string message = failureOf([&] { platform::writeFileReplacing(path(L"Mistlock.ini"), "off"); });
    EXPECT_NE(message.find(pathUtf8(L"Mistlock.ini")), std::string::npos) << message;
    EXPECT_NE(message.find("read-only"), std::string::npos) << message;
    EXPECT_EQ(folder.read(L"Mistlock.ini"), "on\r\npass_check\r\nsecret\r\n\r\n");
    EXPECT_TRUE(GetFileAttributesW(folder.file(L"Mistlock.ini").c_str()) & FILE_ATTRIBUTE_READONLY);
    expectOnly({L"Mistlock.ini"});
    // Made writable again, the same write goes through.
    folder.setReadOnly(L"Mistlock.ini", false);
    platform::writeFileReplacing(path(L"Mistlock.ini"), "off");
    EXPECT_EQ(folder.read(L"Mistlock.ini"), "off");
    expectOnly({L"Mistlock.ini"});
}

TEST_F(Files, FileHeldOpenByAnotherProgramFailsAndStaysIntact) {
    folder.write(L"busy.ini", "old");
    HANDLE holder = CreateFileW(folder.file(L"busy.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::string message = failureOf([&] { platform::writeFileReplacing(path(L"busy.ini"), "new"); });
    CloseHandle(holder);
    EXPECT_NE(message.find(pathUtf8(L"busy.ini")), std::string::npos) << message;
    EXPECT_EQ(folder.read(L"busy.ini"), "old");
    expectOnly({L"busy.ini"});
}

TEST_F(Files, FolderInTheWayFailsAndLeavesNothing) {
    CreateDirectoryW(folder.file(L"Mistlock.ini").c_str(), nullptr);
    const std::string message = failureOf([&] { platform::writeFileReplacing(path(L"Mistlock.ini"), "x"); });
    EXPECT_NE(message.find(pathUtf8(L"Mistlock.ini")), std::string::npos) << message;
    expectOnly({L"Mistlock.ini"});
}

TEST_F(Files, MissingFolderFailsNamingTheFile) {
    const std::string message = failureOf([&] { platform::writeFileReplacing(path(L"gone\\Mistlock.ini"), "x"); });
    EXPECT_NE(message.find(pathUtf8(L"gone\\Mistlock.ini")), std::string::npos) << message;
    expectOnly({});
}

TEST_F(Files, WritesFilesWithCyrillicNames) {
    platform::writeFileReplacing(path(L"\x0423\x0418\x041D.ini"), "123");  // "УИН.ini"
    EXPECT_EQ(folder.read(L"\x0423\x0418\x041D.ini"), "123");
    expectOnly({L"\x0423\x0418\x041D.ini"});
}

TEST_F(Files, ExistenceThatCannotBeToldIsAnError) {
    folder.write(L"Mistlock.ini", "x");
    platform::seams::failFileOperation(1);  // the system refuses the question
    const std::string message = failureOf([&] { platform::fileExists(path(L"Mistlock.ini")); });
    platform::seams::clear();
    EXPECT_EQ(message.rfind("Cannot reach the file \"" + pathUtf8(L"Mistlock.ini") + "\": ", 0), 0u) << message;
    EXPECT_GT(message.size(), message.find("\": ") + 3) << "the system's words for the cause";
}

// ---- What a save keeps ---------------------------------------------------------

using odd_files::runOnHost;

// The access list of a file in the system's text form.
std::wstring accessListOf(const std::wstring& file) {
    std::vector<char> descriptor(65536);
    DWORD needed = 0;
    if (!GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), 65536, &needed)) return L"?";
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring out = text ? text : L"?";
    LocalFree(text);
    return out;
}

// Only the system and the owner: nobody else may even read the file.
bool keepOthersOut(const std::wstring& file) {
    std::vector<char> descriptor(65536);
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    wchar_t* ownerText = nullptr;
    if (!GetFileSecurityW(file.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), 65536, &needed) ||
        !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !ConvertSidToStringSidW(owner, &ownerText)) {
        return false;
    }
    const std::wstring sddl = L"D:(A;;FA;;;SY)(A;;FA;;;" + std::wstring(ownerText) + L")";
    LocalFree(ownerText);
    PSECURITY_DESCRIPTOR wanted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &wanted, nullptr)) {
        return false;
    }
    const bool set = SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, wanted);
    LocalFree(wanted);
    return set;
}

struct Keeping {
    const wchar_t* name;
    // Arranges Mistlock.ini (holding "old") and returns the folder to save in,
    // or an empty string when this system cannot arrange the case.
    std::function<std::wstring(const ScratchFolder&)> prepare;
    std::function<void(const ScratchFolder&, const std::wstring& settings)> check;
    std::vector<std::wstring> names;  // what the folder saved in holds afterwards
};

std::vector<std::wstring> namesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring in(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

std::string contentOf(const std::wstring& file) {
    std::ifstream in{std::filesystem::path(file), std::ios::binary};
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<Keeping> keepingCases() {
    static std::wstring accessListBefore;
    return {
        {L"hidden and system marks",
         [](const ScratchFolder& f) {
             SetFileAttributesW(f.file(L"Mistlock.ini").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
             return f.path();
         },
         [](const ScratchFolder& f, const std::wstring&) {
             const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
             EXPECT_EQ(GetFileAttributesW(f.file(L"Mistlock.ini").c_str()) & kept, kept);
         },
         {L"Mistlock.ini"}},
        {L"an access list that keeps others out",
         [](const ScratchFolder& f) {
             if (!keepOthersOut(f.file(L"Mistlock.ini"))) return std::wstring();
             accessListBefore = accessListOf(f.file(L"Mistlock.ini"));
             return f.path();
         },
         [](const ScratchFolder& f, const std::wstring&) {
             EXPECT_EQ(accessListOf(f.file(L"Mistlock.ini")), accessListBefore);
         },
         {L"Mistlock.ini"}},
        {L"a second hard link",
         [](const ScratchFolder& f) {
             return CreateHardLinkW(f.file(L"other.ini").c_str(), f.file(L"Mistlock.ini").c_str(), nullptr)
                        ? f.path()
                        : std::wstring();
         },
         [](const ScratchFolder& f, const std::wstring&) { EXPECT_EQ(f.read(L"other.ini"), "new"); },
         {L"Mistlock.ini", L"other.ini"}},
        {L"a symbolic link",
         [](const ScratchFolder& f) {
             // Wine answers CreateSymbolicLinkW without making a link: the
             // link is then made on the host side.
             CreateDirectoryW(f.file(L"real").c_str(), nullptr);
             MoveFileW(f.file(L"Mistlock.ini").c_str(), f.file(L"real\\target.ini").c_str());
             if (!CreateSymbolicLinkW(f.file(L"Mistlock.ini").c_str(), f.file(L"real\\target.ini").c_str(), 0) ||
                 !f.exists(L"Mistlock.ini")) {
                 runOnHost(L"ln -s real/target.ini", f.file(L"Mistlock.ini"));
             }
             return contentOf(f.file(L"Mistlock.ini")) == "old" ? f.path() : std::wstring();
         },
         [](const ScratchFolder& f, const std::wstring&) {
             EXPECT_EQ(f.read(L"real\\target.ini"), "new") << "the link was not followed";
             // Wine's DeleteFileW leaves a host link in place.
             runOnHost(L"rm -f", f.file(L"Mistlock.ini"));
         },
         {L"Mistlock.ini", L"real"}},
        {L"a folder path of 240 characters",
         [](const ScratchFolder& f) {
             const std::wstring deep = f.path() + L"\\" + std::wstring(239 - f.path().size(), L'd');
             CreateDirectoryW(deep.c_str(), nullptr);
             MoveFileW(f.file(L"Mistlock.ini").c_str(), in(deep, L"Mistlock.ini").c_str());
             return deep;
         },
         [](const ScratchFolder&, const std::wstring& deep) {
             EXPECT_EQ(deep.size(), 240u);
             EXPECT_EQ(contentOf(in(deep, L"Mistlock.ini")), "new");
         },
         {L"Mistlock.ini"}},
        {L"a folder where no file can be made",
         [](const ScratchFolder& f) {
             // Under Wine the host's immutable flag forbids new names in the
             // folder while its files stay writable.
             const std::wstring locked = f.file(L"locked");
             CreateDirectoryW(locked.c_str(), nullptr);
             MoveFileW(f.file(L"Mistlock.ini").c_str(), in(locked, L"Mistlock.ini").c_str());
             if (!runOnHost(L"chattr +i", locked)) return std::wstring();
             return locked;
         },
         [](const ScratchFolder&, const std::wstring& locked) { runOnHost(L"chattr -i", locked); },
         {L"Mistlock.ini"}},
    };
}

class SaveKeeps : public ::testing::TestWithParam<Keeping> {};

TEST_P(SaveKeeps, WhatTheOldFileHad) {
    const Keeping& c = GetParam();
    ScratchFolder folder{L"mistlock-keeps"};
    folder.write(L"Mistlock.ini", "old");
    const std::wstring settings = c.prepare(folder);
    if (settings.empty()) GTEST_SKIP() << "this system cannot arrange the case";
    const std::wstring file = in(settings, L"Mistlock.ini");
    const std::string message =
        failureOf([&] { platform::writeFileReplacing(std::u16string(file.begin(), file.end()), "new"); });
    EXPECT_EQ(message, "(no EFileError)");
    EXPECT_EQ(contentOf(file), "new");
    EXPECT_EQ(namesIn(settings), c.names) << "a temporary file was left";
    c.check(folder, settings);
}

INSTANTIATE_TEST_SUITE_P(Files, SaveKeeps, ::testing::ValuesIn(keepingCases()), [](const auto& info) {
    std::string name;
    for (const wchar_t* p = info.param.name; *p; ++p) name += iswalnum(*p) ? static_cast<char>(*p) : '_';
    return name;
});

}  // namespace
