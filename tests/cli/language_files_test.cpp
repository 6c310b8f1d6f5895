// The shipped language files: the English one replaces every text when the
// plug-in loads it from its settings folder, and the translators' template
// names every key without changing anything as it stands. The files' values
// are read here on their own, from the UTF-16 bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "settings/translations.h"
#include "tests/support/module_state.h"
#include "tests/support/test_messenger.h"

namespace {

using setpassform::Text;

std::string readBytes(const std::string& relative) {
    std::ifstream in(std::filesystem::path(MISTLOCK_LANG_DIR) / relative, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read lang/" << relative;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// UTF-16LE after its byte-order mark.
std::u16string utf16Text(const std::string& bytes) {
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "no UTF-16LE byte-order mark";
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return text;
}

// The lines of a file whose every line ends in CR LF.
std::vector<std::u16string> crlfLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find(u"\r\n", pos);
        if (end == std::u16string::npos) {
            ADD_FAILURE() << "the last line has no CR LF";
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        EXPECT_EQ(lines.back().find_first_of(u"\r\n"), std::u16string::npos) << "a lone CR or LF";
        pos = end + 2;
    }
    return lines;
}

// key=value lines below [Translation]; comment lines skipped.
std::map<std::u16string, std::u16string> translationValues(const std::vector<std::u16string>& lines) {
    std::map<std::u16string, std::u16string> values;
    bool inSection = false;
    for (const auto& line : lines) {
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            inSection = line == u"[Translation]";
            continue;
        }
        const auto eq = line.find(u'=');
        EXPECT_NE(eq, std::u16string::npos);
        EXPECT_TRUE(inSection) << "a key outside [Translation]";
        EXPECT_TRUE(values.emplace(line.substr(0, eq), line.substr(eq + 1)).second) << "a key given twice";
    }
    return values;
}

std::vector<std::u16string> builtInTexts() {
    setpassform::resetTranslations();
    std::vector<std::u16string> texts;
    for (int i = 0; i < setpassform::textCount; ++i) texts.push_back(setpassform::uiText(static_cast<Text>(i)));
    return texts;
}

// Initialises the plug-in with the file as its Mistlock.lng.
void loadThroughThePlugin(const std::string& fileBytes) {
    test_messenger::TempFolder folder;
    folder.write("Mistlock.lng", fileBytes);
    test_messenger::TestMessenger messenger;
    messenger.initialise(folder.hostPath());
    messenger.finalise();
}

std::string narrowForTrace(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(LanguageFiles, EnglishReplacesEveryTextWithTheFilesValue) {
    const std::string bytes = readBytes("English/Mistlock.lng");
    const auto values = translationValues(crlfLines(utf16Text(bytes)));
    EXPECT_EQ(values.size(), static_cast<std::size_t>(setpassform::textCount));

    const auto builtIn = builtInTexts();
    loadThroughThePlugin(bytes);
    for (int i = 0; i < setpassform::textCount; ++i) {
        const Text key = static_cast<Text>(i);
        const std::u16string name = setpassform::textKeyName(key);
        SCOPED_TRACE(narrowForTrace(name));
        ASSERT_EQ(values.count(name), 1u);
        EXPECT_FALSE(values.at(name).empty());
        EXPECT_EQ(setpassform::uiText(key), values.at(name));
        EXPECT_NE(setpassform::uiText(key), builtIn[i]);
        // English through and through: nothing of the Cyrillic original is left.
        for (const char16_t c : setpassform::uiText(key)) EXPECT_LT(c, 0x80) << "non-ASCII in the English text";
    }
    setpassform::resetTranslations();
}

TEST(LanguageFiles, TemplateNamesEveryKeyBesideItsOriginalAndChangesNothing) {
    const std::string bytes = readBytes("template.lng");
    const auto lines = crlfLines(utf16Text(bytes));
    EXPECT_TRUE(translationValues(lines).empty()) << "the template must not translate anything as it stands";

    const auto builtIn = builtInTexts();
    for (int i = 0; i < setpassform::textCount; ++i) {
        const std::u16string name = setpassform::textKeyName(static_cast<Text>(i));
        SCOPED_TRACE(narrowForTrace(name));
        std::size_t at = 0;
        while (at < lines.size() && lines[at] != u";" + name + u"=") ++at;
        ASSERT_LT(at, lines.size()) << "the key is not listed";
        // The built-in text is a comment line just above the key.
        ASSERT_GT(at, 0u);
        EXPECT_EQ(lines[at - 1], u";   " + builtIn[i]);
    }

    loadThroughThePlugin(bytes);
    for (int i = 0; i < setpassform::textCount; ++i) EXPECT_EQ(setpassform::uiText(static_cast<Text>(i)), builtIn[i]);
}

TEST(LanguageFiles, EachFileIsItsUtf8SourceInUtf16WithCrLf) {
    for (const std::string name : {"English/Mistlock.lng", "template.lng"}) {
        SCOPED_TRACE(name);
        std::string expected = "\xFF\xFE";
        const std::string source = readBytes(name + ".txt");
        // The sources are ASCII but for the template's Cyrillic comments: a
        // plain two-byte UTF-8 decode is enough here.
        for (std::size_t i = 0; i < source.size(); ++i) {
            unsigned c = static_cast<unsigned char>(source[i]);
            if (c >= 0xC0) c = (c & 0x1F) << 6 | (static_cast<unsigned char>(source[++i]) & 0x3F);
            if (c == '\n') expected += std::string("\r\0", 2);
            expected += static_cast<char>(c & 0xFF);
            expected += static_cast<char>(c >> 8);
        }
        EXPECT_TRUE(readBytes(name) == expected) << "run lang/make_lng.sh";
    }
}

}  // namespace
