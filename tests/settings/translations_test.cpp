// The user-interface texts and the language file "Mistlock.lng". Each case
// puts a file from tests/data/lang/ into the settings folder and creates the
// dialog, which reads it through the platform's profile reader, so the same
// table holds for the Windows reader and the headless one.
#include <map>
#include <optional>

#include "settings/setpassform.h"
#include "settings/translations.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/module_state.h"

namespace settings_test {
namespace {

using setpassform::Text;
using setpassform::Tsetpass;

struct BuiltIn {
    Text key;
    const char16_t* name;
    const char16_t* text;
};

// In the order of reading.
const BuiltIn builtIns[] = {
    {Text::KeyNotFound, u"KeyNotFound", u"Файл с ключём не найден. Проверьте заданный путь. Отправка отменена."},
    {Text::KeyNotFound2, u"KeyNotFound2",
     u"Файл с ключём не найден. Проверьте заданный путь. Сообщение будет отображено в неизменённом виде."},
    {Text::FormTitle, u"FormTitle", u"Настройки шифрования"},
    {Text::Pass, u"Pass", u"Пароль:"},
    {Text::KeyFile, u"KeyFile", u"Файл с ключом:"},
    {Text::Crypt, u"Crypt", u"Шифровать при отправке на эти уины:"},
    {Text::Use, u"Use", u"Использовать:"},
    {Text::Passwd, u"Passwd", u"Введённый пароль"},
    {Text::Key, u"Key", u"Файл с ключом"},
    {Text::CryptError, u"CryptError", u"Ошибка при шифровании сообщения, отправка отменена."},
    {Text::Warning, u"Warning", u"Внимание"},
    {Text::AboutPlugin, u"AboutPlugin", u"О плагине"},
    {Text::OriginalMsgError, u"OriginalMsgError", u"[Ошибка при расшифровке] Оригинальное сообщение:"},
    {Text::BrowseFile, u"BrowseFile", u"Указать файл..."},
    {Text::ListUnread, u"ListUnread",
     u"Список уинов (MistlockWho.ini) не удалось прочитать при запуске, поэтому неизвестно, кому шифровать. Отправка отменена. Исправьте файл и перезапустите мессенджер, проверьте список в настройках шифрования и нажмите ОК или выключите шифрование."},
    {Text::SettingsUnread, u"SettingsUnread",
     u"Файл настроек (Mistlock.ini) не удалось прочитать при запуске, поэтому ключ неизвестен. Отправка отменена. Исправьте файл и перезапустите мессенджер, проверьте настройки шифрования и нажмите ОК или выключите шифрование."},
    {Text::ListMissing, u"ListMissing",
     u"Файл со списком уинов (MistlockWho.ini) пропал из папки настроек, а этот контакт есть в списке. Отправка отменена. Откройте настройки шифрования и нажмите ОК, чтобы записать список снова, или выключите шифрование."},
    {Text::EmptyPassword, u"EmptyPassword",
     u"Пароль пуст: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка отменена. Введите пароль в настройках шифрования."},
    {Text::EmptyKeyLine, u"EmptyKeyLine",
     u"Первая строка файла с ключом пуста: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка отменена. Запишите ключ в первую строку файла."},
    {Text::BadRecord, u"BadRecord",
     u"Мессенджер передал сообщение в повреждённом виде, его нельзя зашифровать. Отправка отменена."},
    {Text::NotStarted, u"NotStarted",
     u"Плагин шифрования не смог запуститься, поэтому сообщение нельзя зашифровать. Отправка отменена. Перезапустите мессенджер."},
    {Text::KeyFileUnusable, u"KeyFileUnusable",
     u"Первая строка файла с ключом не годится как ключ (причина ниже): зашифрованное ею сообщение мог бы прочесть посторонний или не смог бы прочесть собеседник. Отправка отменена."},
    {Text::ShortPassword, u"ShortPassword",
     u"Пароль короче 8 символов: такой ключ можно подобрать перебором. Введите пароль длиннее или нажмите ОК ещё раз, чтобы оставить этот (например, если его использует собеседник со старой версией плагина)."},
    {Text::NoRandomNumbers, u"NoRandomNumbers",
     u"Система не дала случайных чисел, без которых сообщение нельзя зашифровать (причина ниже). Отправка отменена. Попробуйте ещё раз; если ошибка повторится, проверьте систему."},
};

using Overrides = std::map<Text, std::u16string>;

struct Case {
    const char* name;
    const char* file;  // below tests/data/lang/, or null for no language file
    Overrides expected;
    // Only where the file is in the ANSI code page and its meaning depends on it.
    std::optional<Overrides> expectedUnder1252 = std::nullopt;
};

const std::u16string english[] = {
    u"The key file was not found. Check the path. Sending cancelled.",
    u"The key file was not found. Check the path. The message is shown unchanged.",
    u"Encryption settings",
    u"Password:",
    u"Key file:",
    u"Encrypt messages to these UINs:",
    u"Use:",
    u"Password",
    u"Key file",
    u"Encrypting the message failed; it was not sent.",
    u"Warning",
    u"About the plug-in",
    u"[Decryption failed] Original message:",
    u"Choose a file...",
    u"The UIN list could not be read. Not sent.",
    u"The settings could not be read. Not sent.",
    u"The UIN list has gone. Not sent.",
    u"The password is empty. Not sent.",
    u"The key line is empty. Not sent.",
    u"A damaged message. Not sent.",
    u"Not started. Not sent.",
    u"The key line is no key. Not sent.",
    u"The password is short.",
    u"No random numbers. Not sent.",
};

Overrides allEnglish() {
    Overrides all;
    for (int i = 0; i < setpassform::textCount; ++i) all[static_cast<Text>(i)] = english[i];
    return all;
}

const Case cases[] = {
    {"no language file", nullptr, {}},
    {"only Warning", "warning_only.lng", {{Text::Warning, u"Attention"}}},
    {"empty value", "empty_pass.lng", {{Text::Pass, u""}, {Text::Use, u"Use:"}}},
    {"value longer than 2047", "long_value.lng", {{Text::Crypt, std::u16string(2047, u'x')}}},
    {"names in other letter case", "upper_case_names.lng",
     {{Text::KeyNotFound, u"Key file not found. Sending cancelled."}}},
    {"other section only", "other_section.lng", {}},
    // A line without "=" names no key; only the first section of the name counts.
    {"duplicate section, line without a value", "duplicate_section.lng", {{Text::Pass, u"First"}}},
    {"UTF-16LE with mark", "utf16le_bom.lng",
     {{Text::FormTitle, u"Настройки Mistlock"},
      {Text::Passwd, u"Password"},
      {Text::Key, u"Ключ / key file"},
      {Text::AboutPlugin, u"Über Mistlock"}}},
    {"every key", "english.lng", allEnglish()},
    {"ANSI with Cyrillic", "cp1251.lng",
     {{Text::Warning, u"Внимание!"}, {Text::Pass, u"Пароль (password):"}},
     Overrides{{Text::Warning, u"Âíèìàíèå!"}, {Text::Pass, u"Ïàðîëü (password):"}}},
};

class Translations : public SettingsFolderTest {};

TEST_F(Translations, KeysAndBuiltInTexts) {
    ASSERT_EQ(std::size(builtIns), static_cast<std::size_t>(setpassform::textCount));
    for (const BuiltIn& b : builtIns) {
        SCOPED_TRACE(show(b.name));
        EXPECT_EQ(std::u16string(setpassform::textKeyName(b.key)), b.name);
        EXPECT_EQ(setpassform::uiText(b.key), b.text);
    }
}

TEST_F(Translations, LanguageFileCases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setpassform::resetTranslations();
        std::error_code ignored;
        fs::remove(file("Mistlock.lng"), ignored);
        if (c.file) putData("Mistlock.lng", std::string("lang/") + c.file);

        Tsetpass dialog;
        const Overrides& expected =
            (c.expectedUnder1252 && platform::ansiCodePage() == 1252) ? *c.expectedUnder1252 : c.expected;
        auto textOf = [&](Text key) {
            const auto found = expected.find(key);
            return found != expected.end() ? found->second : std::u16string(builtIns[static_cast<int>(key)].text);
        };
        for (const BuiltIn& b : builtIns) {
            EXPECT_EQ(setpassform::uiText(b.key), textOf(b.key))
                << show(b.name) << " is " << show(setpassform::uiText(b.key));
        }
        // The texts land on the dialog's controls.
        EXPECT_EQ(dialog.Label1.caption(), textOf(Text::Pass));
        EXPECT_EQ(dialog.Label3.caption(), textOf(Text::KeyFile));
        EXPECT_EQ(dialog.Label2.caption(), textOf(Text::Crypt));
        EXPECT_EQ(dialog.Label4.caption(), textOf(Text::Use));
        EXPECT_EQ(dialog.pass_check.caption(), textOf(Text::Passwd));
        EXPECT_EQ(dialog.file_check.caption(), textOf(Text::Key));
        EXPECT_EQ(dialog.OpenKeyFile.hint(), textOf(Text::BrowseFile));
        dialog.show();
        EXPECT_EQ(dialog.caption(), textOf(Text::FormTitle));
    }
    expectErrorBoxes(0);
}

TEST_F(Translations, FolderNamedLikeTheLanguageFileIsIgnored) {
    fs::create_directory(file("Mistlock.lng"));
    setpassform::LoadTranslations();
    for (const BuiltIn& b : builtIns) EXPECT_EQ(setpassform::uiText(b.key), b.text) << show(b.name);
}

TEST_F(Translations, AbsentKeyKeepsTheCurrentText) {
    putData("Mistlock.lng", "lang/english.lng");
    setpassform::LoadTranslations();
    putData("Mistlock.lng", "lang/warning_only.lng");
    setpassform::LoadTranslations();
    EXPECT_EQ(setpassform::uiText(Text::Warning), u"Attention");
    EXPECT_EQ(setpassform::uiText(Text::Pass), u"Password:") << "an absent key went back to the built-in text";
    setpassform::resetTranslations();
    EXPECT_EQ(setpassform::uiText(Text::Pass), u"Пароль:");
}

}  // namespace
}  // namespace settings_test
