// Files through the Win32 layer: existence, whole reads, and replacement that
// leaves the old content whole when anything goes wrong.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/utf8.h"
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

TEST_F(Files, ReadSharesWithOtherReadersOnly) {
    folder.write(L"shared.txt", "content");
    // Another reader does not stand in the way.
    HANDLE reader = CreateFileW(folder.file(L"shared.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::readFile(path(L"shared.txt")), "content");
    CloseHandle(reader);
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

}  // namespace
