#include "settings/kept_copies.h"

#include "platform/exception.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "platform/utf8.h"

namespace setpassform {

namespace {

constexpr std::u16string_view lineBreak = u"\r\n";

// NAME.SUFFIX and then NAME.SUFFIX2 to this many: room enough for every copy
// a user would keep, few enough to look through at each save.
constexpr int copyNames = 999;

// The text as any reader of it sees it; none for bytes that do not decode.
std::optional<std::u16string> textSeen(std::string_view bytes) {
    try {
        const platform::DecodedText decoded = platform::decodeText(bytes, "");
        if (decoded.oddByteDropped) return std::nullopt;
        std::u16string text = platform::normaliseLineBreaks(decoded.text);
        const bool endsInBreak = text.size() >= lineBreak.size() && text.compare(text.size() - 2, 2, lineBreak) == 0;
        if (!text.empty() && !endsInBreak) text += lineBreak;
        return text;
    } catch (const Exception&) {
        return std::nullopt;
    }
}

// NAME.SUFFIX, NAME.SUFFIX2, ...
std::u16string copyName(const std::u16string& path, std::u16string_view suffix, int n) {
    return path + u"." + std::u16string(suffix) + (n == 1 ? std::u16string() : platform::widen(std::to_string(n)));
}

// The first such name at which nothing at all stands, so that an earlier copy
// is never lost and a folder or link of that name is not taken for a free one.
std::u16string firstFreeName(const std::u16string& path, std::u16string_view suffix) {
    for (int n = 1; n <= copyNames; ++n) {
        const std::u16string candidate = copyName(path, suffix, n);
        if (platform::pathKind(candidate) == platform::PathKind::Nothing) return candidate;
    }
    throw EFileError("Cannot keep a copy of " + quotedPath(path) + ": " + quotedPath(copyName(path, suffix, 1)) +
                     " and " + std::to_string(copyNames - 1) +
                     " more copies are in the way. Move them elsewhere and try again.");
}

}  // namespace

std::string quotedPath(const std::u16string& path) { return "\"" + utf8::encode(path) + "\""; }

bool carriesAll(std::string_view loaded, std::string_view saved) {
    const auto before = textSeen(loaded);
    return before && before == textSeen(saved);
}

std::u16string unloadedCopyName(const std::u16string& path) { return copyName(path, u"bad", 1); }

std::string keepBeforeReplacing(const std::u16string& path, FileRecord& record, std::string_view bytes) {
    // Where nothing is, nothing is lost; anything else that is not a file the
    // save refuses to replace.
    if (platform::pathKind(path) != platform::PathKind::File) return {};
    const std::string present = platform::readFile(path);
    if (present == bytes) return {};
    const bool unread = record.failed && !record.onDisk;
    if (!unread && record.onDisk == present && record.replaceable) return {};

    const std::u16string copy = firstFreeName(path, unread ? u"bad" : u"kept");
    platform::writeFileNew(copy, present);
    record.onDisk = present;
    record.replaceable = true;
    if (unread) {
        return "The file " + quotedPath(path) +
               " could not be loaded when the messenger started; its old content is kept in " + quotedPath(copy) +
               ".";
    }
    return "The file " + quotedPath(path) +
           " held what this save does not keep (it was changed on disk since Mistlock read or wrote it, or it holds "
           "text that Mistlock does not store); that content is kept in " +
           quotedPath(copy) + ".";
}

}  // namespace setpassform
