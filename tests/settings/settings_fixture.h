#pragma once
// A fresh settings folder for each test, with the module values of the
// settings module back at their load-time state, and the message boxes the
// code under test shows collected instead of shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/setpassform.h"
#include "settings/translations.h"
#include "tests/support/module_state.h"
#include "tests/support/show_text.h"

#ifndef _WIN32
#include "platform/portable/headless.h"
#endif

namespace settings_test {

using ::show;

namespace fs = std::filesystem;

struct ShownBox {
    std::u16string text;
    std::u16string caption;
    bool errorBox;
};

// The bytes of a file, or of a data file below tests/data.
inline std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot open " << path.string();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path.string();
}

inline fs::path dataPath(const std::string& relative) { return fs::path(MISTLOCK_TEST_DATA) / relative; }

class SettingsFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        const fs::path base = fs::temp_directory_path();
        do {
            folder = base / ("mistlock-settings-" + std::to_string(random()));
        } while (fs::exists(folder));
        fs::create_directories(folder);
        // ASCII folder names: narrowing cannot change them.
        setpassform::settingsFolder = platform::narrow(folder.u16string()) + "\\";
        setpassform::encryptionSwitch = false;
        setpassform::setpass = nullptr;
        setpassform::resetTranslations();
#ifndef _WIN32
        platform::headless::setMessageBoxObserver(
            [this](const std::u16string& text, const std::u16string& caption, bool errorBox) {
                boxes.push_back({text, caption, errorBox});
            });
        platform::headless::setOpenDialogAnswer(std::nullopt);
#endif
    }

    void TearDown() override {
#ifndef _WIN32
        platform::headless::setMessageBoxObserver(nullptr);
#endif
        setpassform::setpass = nullptr;
        setpassform::settingsFolder.clear();
        setpassform::encryptionSwitch = false;
        setpassform::resetTranslations();
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(folder, ignored);
    }

    // Tests that check which boxes were shown need them collected.
    static bool boxesObservable() {
#ifdef _WIN32
        return false;
#else
        return true;
#endif
    }

    fs::path file(const char* name) const { return folder / name; }
    void put(const char* name, const std::string& bytes) const { writeBytes(file(name), bytes); }
    void putData(const char* name, const std::string& relative) const { put(name, readBytes(dataPath(relative))); }
    std::string bytesOf(const char* name) const { return readBytes(file(name)); }
    bool exists(const char* name) const { return fs::exists(file(name)); }

    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    int errorBoxes() const {
        int n = 0;
        for (const auto& box : boxes) n += box.errorBox ? 1 : 0;
        return n;
    }

    // The message boxes shown so far must be exactly `count` error boxes and
    // nothing else. Where boxes cannot be collected the check is left out.
    void expectErrorBoxes(int count) const {
        if (!boxesObservable()) return;
        EXPECT_EQ(errorBoxes(), count);
        EXPECT_EQ(static_cast<int>(boxes.size()), count) << "message boxes other than error boxes were shown";
    }

    fs::path folder;
    std::vector<ShownBox> boxes;
};

}  // namespace settings_test

// For a test that makes the code under test show a box or run the file
// chooser: without the headless layer these would wait for a user.
#define SKIP_WITHOUT_HEADLESS_UI()                                                          \
    do {                                                                                    \
        if (!boxesObservable()) GTEST_SKIP() << "needs the headless message boxes and chooser"; \
    } while (0)
