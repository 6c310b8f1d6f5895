// Saves that never lose the old content, over the Win32 file API: through a
// temporary file that takes the old one's place (ReplaceFileW), or, for a
// file with other names or where no file can be made beside it, rewritten in
// place while a copy of the old bytes is kept.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/win32/file_calls.h"
#include "platform/win32/file_steps.h"
#include "platform/win32/win32_support.h"

namespace platform {

namespace win32 {

namespace {

struct Existing {
    bool exists = false;
    std::u16string target;  // long form, links resolved: the file whose content is replaced
    DWORD attributes = 0;
    DWORD links = 1;
    std::vector<char> accessList;
};

// The file as it is before the save, refused when it must not be replaced.
Existing inspect(const std::u16string& path) {
    Existing file;
    file.target = longForm(path);
    const DWORD attributes = os::attributes(file.target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (!surelyAbsent(error)) fail("write", path, error);
        if (nameStillListed(path, file.target)) failWith("write", path, u"it is a link to a file that does not exist");
        return file;  // nothing there yet
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) failWith("write", path, u"a folder of that name is in the way");

    // Asking for attributes and the access list only: no other program's
    // sharing rules stand against that. The open follows links.
    constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    Handle handle(os::open(file.target, FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS));
    if (!handle.valid() && GetLastError() == ERROR_ACCESS_DENIED) {
        handle.reset(os::open(file.target, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    }
    if (!handle.valid()) {
        const DWORD error = GetLastError();
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && surelyAbsent(error)) {
            failWith("write", path, u"it is a link to a file that does not exist");
        }
        fail("write", path, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!os::information(handle.get(), info)) fail("write", path, GetLastError());
    // A link the user made stays a link: the file it leads to is written.
    if (auto final = os::finalPath(handle.get())) {
        file.target = *final;
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        fail("write", path, GetLastError());
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        failWith("write", path, u"a folder of that name is in the way");
    }
    // A file the user made read-only is not silently replaced.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) failWith("write", path, u"the file is read-only");
    file.exists = true;
    file.attributes = info.dwFileAttributes;
    file.links = info.nNumberOfLinks;
    file.accessList = os::accessList(handle.get());
    return file;
}

// Errors of ReplaceFileW from file systems that do not offer it.
bool replaceUnsupported(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER;
}

// The old file's hidden, system and not-indexed marks on the new content.
// ReplaceFileW carries them over on Windows, not everywhere (Wine).
void keepAttributes(const Existing& old) {
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (old.attributes & kept) os::setAttributes(old.target, old.attributes & (kept | FILE_ATTRIBUTE_ARCHIVE));
}

// ReplaceFileW, given a backup name of its own so that the old file never
// goes without a name: without one Wine's ReplaceFileW deletes the old file
// before it moves the new one in, and leaves a file of its own behind when it
// fails. Should the old file be left under the backup name, it is put back.
// False, with the error in GetLastError, when the replace failed.
bool replaceKeepingTheOld(const std::u16string& path, const std::u16string& target, const std::u16string& temp) {
    const std::u16string backup = folderOf(target) + u"~mistlock-" + uniqueName("%08x-%04x-%02x.bak", 0);
    if (os::replace(target, temp, backup)) {
        discard(backup);
        return true;
    }
    const DWORD error = GetLastError();
    const bool oldOnlyAsBackup =
        os::attributes(target) == INVALID_FILE_ATTRIBUTES && os::attributes(backup) != INVALID_FILE_ATTRIBUTES;
    if (!oldOnlyAsBackup) {
        if (os::attributes(backup) != INVALID_FILE_ATTRIBUTES) discard(backup);
    } else if (!os::move(backup, target)) {
        throw EFileError(fileFailure("write", path, error) + ". Its previous content is kept in \"" +
                         utf8::encode(shownForm(backup)) + "\".");
    }
    SetLastError(error);
    return false;
}

// The bytes go to a new file beside the target, which then takes its place in
// one step: ReplaceFileW for an existing file, which carries over its access
// list, owner, attributes and encryption. False when that way cannot be taken
// (no right to create files in the folder, a file system without
// ReplaceFileW): then nothing was changed.
bool replaceThroughTemporary(const std::u16string& path, Existing& old, std::string_view bytes, std::size_t budget) {
    std::u16string temp;
    Handle file(createUnique(folderOf(old.target), u"~mistlock-", "%08x-%04x-%02x.tmp", GENERIC_WRITE | WRITE_DAC,
                             temp));
    if (!file.valid()) return false;
    try {
        writeAll(file, bytes, budget, path);
        // Where ReplaceFileW does not carry the access list over (Wine), the
        // new file has it from the start. Where it does, it overrides this.
        if (!old.accessList.empty()) os::setAccessList(file.get(), old.accessList);
        flushAndClose(file, path);
        if (!old.exists) {
            if (!os::move(temp, old.target)) fail("write", path, GetLastError());
        } else if (!replaceKeepingTheOld(path, old.target, temp)) {
            const DWORD error = GetLastError();
            if (!replaceUnsupported(error)) fail("write", path, error);
            discard(temp);
            return false;
        }
    } catch (...) {
        file.close();
        discard(temp);
        throw;
    }
    if (old.exists) keepAttributes(old);
    return true;
}

// Keeps the old bytes in a file of the user's temporary folder while the file
// is rewritten in place; its path, or an error when no copy can be made (then
// the file is not touched: its bytes could be lost).
std::u16string keepCopy(const std::u16string& path, std::string_view old) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    const std::u16string folder = length > 0 && length <= MAX_PATH ? fromWide(buffer, length) : u".\\";
    std::u16string copy;
    Handle file(createUnique(longForm(folder), baseNameOf(path) + u"-", "%08x-%04x-%02x.old", GENERIC_WRITE, copy));
    const bool created = file.valid();
    const bool kept = created && writeFromStart(file, old) && os::flush(file.get()) && file.close();
    if (!kept) {
        const DWORD error = GetLastError();
        file.close();
        if (created) discard(copy);
        failWith("write", path,
                 u"no copy of its present content could be made in \"" + folder + u"\": " +
                     win32::systemMessage(error));
    }
    return folder + baseNameOf(copy);
}

// Writes the old bytes back over a failed rewrite. False when that fails too.
bool putBack(Handle& file, const std::u16string& target, std::string_view old) {
    if (!file.valid()) file.reset(os::open(target, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
    return file.valid() && writeFromStart(file, old) && os::setEnd(file.get(), old.size()) &&
           os::flush(file.get()) && file.close();
}

// Rewrites the file itself, for a file whose other names (hard links) must
// see the new content, or when no temporary file can be made beside it. Its
// access list, owner, attributes and links stay as they are.
void rewriteInPlace(const std::u16string& path, const Existing& old, std::string_view bytes, std::size_t budget) {
    Handle file(os::open(old.target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.valid()) fail("write", path, GetLastError());
    const std::string previous = readAll(file, path);
    const std::u16string copy = keepCopy(path, previous);
    try {
        writeAll(file, bytes, budget, path);
        if (!os::setEnd(file.get(), bytes.size())) fail("write", path, GetLastError());
        flushAndClose(file, path);
    } catch (const EFileError& failure) {
        if (!putBack(file, old.target, previous)) {
            throw EFileError(std::string(failure.what()) +
                             ". Putting its previous content back failed too; that content is kept in \"" +
                             utf8::encode(copy) + "\".");
        }
        discard(longForm(copy));
        throw;
    }
    discard(longForm(copy));
}

}  // namespace

}  // namespace win32

void writeFileReplacing(const std::u16string& path, std::string_view bytes) {
    const std::size_t budget = hooks::writeBudget();
    win32::Existing old = win32::inspect(path);
    // Other names of the file must see the new content: a replace would part
    // this name from them.
    if (old.exists && old.links > 1) return win32::rewriteInPlace(path, old, bytes, budget);
    if (win32::replaceThroughTemporary(path, old, bytes, budget)) return;
    if (old.exists) return win32::rewriteInPlace(path, old, bytes, budget);
    win32::createNew("write", old.target, path, bytes, budget);
}

}  // namespace platform
