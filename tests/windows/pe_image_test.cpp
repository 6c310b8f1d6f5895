// Mistlock.dll as the host messenger finds it: loaded at its preferred low
// base without randomisation (the protocol carries code addresses in 32
// bits), pluginFun exported by name, only Windows' own DLLs imported, and
// the icons and version information in its resources; and neither it nor the
// command line carries the file layer's test seams.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/test_seams.h"
#include "tests/windows/support/windows_support.h"

namespace {

const std::wstring dllPath = wintest::windowsPath(MISTLOCK_DLL);

// The file's bytes and its section table, to read the headers by hand.
class Image {
public:
    Image() {
        const HANDLE file = CreateFileW(dllPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
        CloseHandle(file);
    }

    template <typename T>
    T at(std::size_t offset) const {
        T value{};
        if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }

    std::size_t ntOffset() const { return at<IMAGE_DOS_HEADER>(0).e_lfanew; }
    IMAGE_NT_HEADERS64 nt() const { return at<IMAGE_NT_HEADERS64>(ntOffset()); }

    // File offset of a relative virtual address, through the section table.
    std::size_t fileOffset(DWORD rva) const {
        const IMAGE_NT_HEADERS64 headers = nt();
        const std::size_t table = ntOffset() + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                  headers.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
            const auto section = at<IMAGE_SECTION_HEADER>(table + i * sizeof(IMAGE_SECTION_HEADER));
            const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return bytes.size();
    }

    std::string stringAt(DWORD rva) const {
        const std::size_t offset = fileOffset(rva);
        if (offset >= bytes.size()) return {};
        return std::string(bytes.c_str() + offset, strnlen(bytes.c_str() + offset, bytes.size() - offset));
    }

    std::vector<std::string> exportedNames() const {
        std::vector<std::string> names;
        const auto directory = nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (directory.VirtualAddress == 0) return names;
        const auto exports = at<IMAGE_EXPORT_DIRECTORY>(fileOffset(directory.VirtualAddress));
        for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
            names.push_back(stringAt(at<DWORD>(fileOffset(exports.AddressOfNames) + 4 * i)));
        }
        return names;
    }

    std::vector<std::string> importedDlls() const {
        std::vector<std::string> names;
        const auto directory = nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (directory.VirtualAddress == 0) return names;
        for (std::size_t entry = fileOffset(directory.VirtualAddress);; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto descriptor = at<IMAGE_IMPORT_DESCRIPTOR>(entry);
            if (descriptor.Name == 0) break;
            names.push_back(stringAt(descriptor.Name));
        }
        return names;
    }

    std::string bytes;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Windows' own libraries: what a user's machine always has.
bool isSystemDll(const std::string& name) {
    static const char* const system[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll",
                                         "comdlg32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll",
                                         "shlwapi.dll",  "ole32.dll",  "ucrtbase.dll", "bcrypt.dll"};
    const std::string n = lower(name);
    if (n.rfind("api-ms-win-", 0) == 0) return true;
    return std::find_if(std::begin(system), std::end(system), [&](const char* s) { return n == s; }) !=
           std::end(system);
}

TEST(PeImage, PreferredBaseIsLowAndNotRandomised) {
    const Image image;
    ASSERT_FALSE(image.bytes.empty()) << "cannot read " << MISTLOCK_DLL;
    const IMAGE_NT_HEADERS64 headers = image.nt();
    ASSERT_EQ(headers.Signature, IMAGE_NT_SIGNATURE);
    ASSERT_EQ(headers.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(headers.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_TRUE(headers.FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(headers.OptionalHeader.ImageBase, 0x400000u);
    EXPECT_FALSE(headers.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_FALSE(headers.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    // The whole image, code included, lies below 4 GB.
    EXPECT_LT(headers.OptionalHeader.ImageBase + headers.OptionalHeader.SizeOfImage, 0x100000000ull);
}

TEST(PeImage, ExportsPluginFunByName) {
    const std::vector<std::string> names = Image().exportedNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "pluginFun"), names.end());
    // Nothing of the toolchain's runtime leaks out as an export.
    for (const std::string& name : names) EXPECT_EQ(name, "pluginFun");
}

TEST(PeImage, ImportsOnlyWindowsOwnLibraries) {
    const std::vector<std::string> dlls = Image().importedDlls();
    ASSERT_FALSE(dlls.empty());
    for (const std::string& dll : dlls) {
        EXPECT_TRUE(isSystemDll(dll)) << dll << " is not part of Windows";
        for (const char* runtime : {"libstdc++", "libgcc", "libwinpthread"}) {
            EXPECT_EQ(lower(dll).find(runtime), std::string::npos) << dll;
        }
    }
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(std::filesystem::path(wintest::windowsPath(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PeImage, HoldsNoFileSeams) {
    const std::string mark = platform::seams::buildMark;
    ASSERT_NE(bytesOf(MISTLOCK_SEAM_LIBRARY).find(mark), std::string::npos) << "the check would find nothing anywhere";
    for (const char* shipped : {MISTLOCK_DLL, MISTLOCK_CLI_PROGRAM}) {
        const std::string bytes = bytesOf(shipped);
        ASSERT_GT(bytes.size(), 10000u) << shipped;
        EXPECT_EQ(bytes.find(mark), std::string::npos) << shipped;
        EXPECT_EQ(bytes.find("failFileOperation"), std::string::npos) << shipped;
    }
}

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        // Whether the preferred base is free in this process before loading:
        // a runtime may keep memory there (Wine's heap does), and then the
        // loader moves the library.
        MEMORY_BASIC_INFORMATION memory{};
        baseWasFree = VirtualQuery(reinterpret_cast<void*>(0x400000), &memory, sizeof memory) &&
                      memory.State == MEM_FREE && memory.RegionSize >= Image().nt().OptionalHeader.SizeOfImage;
        module = LoadLibraryW(dllPath.c_str());
        ASSERT_NE(module, nullptr) << "LoadLibrary failed with " << GetLastError();
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    HMODULE module = nullptr;
    bool baseWasFree = false;
};

TEST_F(LoadedLibrary, PluginFunIsReachedThroughASignExtended32BitAddress) {
    if (baseWasFree) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(module), 0x400000u);
    }
    const auto entry = reinterpret_cast<std::uintptr_t>(GetProcAddress(module, "pluginFun"));
    ASSERT_NE(entry, 0u);
    EXPECT_LT(entry, 0x80000000u);
    EXPECT_EQ(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(entry))), entry);
}

// The sizes of the images in the group icon directory of a named icon.
std::vector<int> iconSizes(HMODULE module, const wchar_t* name) {
    std::vector<int> sizes;
    const HRSRC resource = FindResourceW(module, name, RT_GROUP_ICON);
    if (!resource) return sizes;
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    const DWORD size = SizeofResource(module, resource);
    if (!bytes || size < 6) return sizes;
    const int images = bytes[4] | (bytes[5] << 8);
    for (int i = 0; i < images && 6u + 14u * (i + 1) <= size; ++i) {
        const BYTE* entry = bytes + 6 + 14 * i;
        EXPECT_EQ(entry[0], entry[1]) << "square";
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    }
    return sizes;
}

// The small-icon sizes of 100, 125, 150 and 200 % scaling, and Explorer's 48.
TEST_F(LoadedLibrary, CarriesTheTwoSwitchIconsAtEverySizeTheyAreDrawnFor) {
    for (const wchar_t* name : {L"ZEV", L"ZEV_CRYPT"}) {
        EXPECT_EQ(iconSizes(module, name), (std::vector<int>{16, 20, 24, 32, 48})) << name;
        EXPECT_NE(LoadIconW(module, name), nullptr) << name;
    }
    EXPECT_EQ(FindResourceW(module, L"ZEV_OFF", RT_GROUP_ICON), nullptr);
}

TEST_F(LoadedLibrary, CarriesTheFolderGlyph) {
    const auto bitmap = static_cast<HBITMAP>(LoadImageW(module, L"OPEN_FOLDER", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 16);
    EXPECT_EQ(info.bmHeight, 16);
    EXPECT_EQ(info.bmBitsPixel, 24);
    DeleteObject(bitmap);
}

TEST_F(LoadedLibrary, VersionInformationNamesMistlock045) {
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION);
    ASSERT_NE(resource, nullptr);
    const DWORD size = SizeofResource(module, resource);
    const void* data = LockResource(LoadResource(module, resource));
    ASSERT_NE(data, nullptr);
    // VerQueryValueW wants a writable copy.
    std::vector<BYTE> copy(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    struct Expected {
        const wchar_t* key;
        const wchar_t* value;
    } const expected[] = {
        {L"\\StringFileInfo\\040904B0\\ProductName", L"Mistlock"},
        {L"\\StringFileInfo\\040904B0\\ProductVersion", L"0.45"},
        {L"\\StringFileInfo\\040904B0\\OriginalFilename", L"Mistlock.dll"},
    };
    for (const Expected& e : expected) {
        wchar_t* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(copy.data(), e.key, reinterpret_cast<void**>(&value), &length)) << e.key;
        EXPECT_STREQ(value, e.value);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(45, 0));
}

}  // namespace
