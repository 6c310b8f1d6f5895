#include "fuzz/support/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/portable/headless.h"

namespace fs = std::filesystem;

namespace fuzzing {

std::uint8_t Input::byte() { return at_ < size_ ? data_[at_++] : 0; }

std::int32_t Input::int32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return static_cast<std::int32_t>(v);
}

std::string Input::bytes(std::size_t n) {
    n = std::min(n, size_ - at_);
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
}

std::string Input::rest() { return bytes(size_ - at_); }

void fail(const std::string& what, std::string_view detail) {
    std::fprintf(stderr, "\n*** fuzz target: %s\n", what.c_str());
    if (!detail.empty()) std::fprintf(stderr, "*** %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::fflush(stderr);
    std::abort();
}

namespace {

std::string makeRoot() {
    std::string pattern = (fs::temp_directory_path() / "mistlock-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) fail("cannot make a scratch folder", pattern);
    return pattern;
}

struct RootHolder {
    std::string path = makeRoot();
    const pid_t owner = ::getpid();
    ~RootHolder() {
        // Only the process that made it removes it.
        if (::getpid() != owner) return;
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(path, ignored);
    }
};

}  // namespace

const std::string& Scratch::root() {
    static RootHolder holder;
    return holder.path;
}

std::string Scratch::freshFolder(const std::string& name) {
    const fs::path path = fs::path(root()) / name;
    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::create_directories(path);
    return path.string();
}

void Scratch::write(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fail("cannot write a scratch file", path);
}

std::string Scratch::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read a scratch file", path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Scratch::exists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> Scratch::list(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Boxes& watchBoxes() {
    static Boxes boxes;
    static const bool installed = [] {
        platform::headless::setMessageBoxObserver([](const std::u16string& text, const std::u16string&, bool error) {
            ++(error ? boxes.errors : boxes.messages);
            boxes.lastText = text;
            if (auto reentry = std::move(boxes.whileOpen)) {
                boxes.whileOpen = nullptr;
                ++boxes.reentries;
                reentry();
            }
        });
        return true;
    }();
    (void)installed;
    return boxes;
}

}  // namespace fuzzing
