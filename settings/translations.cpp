// The user-interface texts and the language file that may translate them.
#include "settings/translations.h"

#include <array>

#include "platform/platform.h"
#include "settings/setpassform.h"

namespace setpassform {

namespace {

struct TextEntry {
    const char16_t* key;
    const char16_t* builtIn;
};

// In the order of the Text enumeration, which is the order of reading.
constexpr TextEntry entries[textCount] = {
    {u"KeyNotFound", u"Файл с ключём не найден. Проверьте заданный путь. Отправка отменена."},
    {u"KeyNotFound2",
     u"Файл с ключём не найден. Проверьте заданный путь. Сообщение будет отображено в неизменённом виде."},
    {u"FormTitle", u"Настройки шифрования"},
    {u"Pass", u"Пароль:"},
    {u"KeyFile", u"Файл с ключом:"},
    {u"Crypt", u"Шифровать при отправке на эти уины:"},
    {u"Use", u"Использовать:"},
    {u"Passwd", u"Введённый пароль"},
    {u"Key", u"Файл с ключом"},
    {u"CryptError", u"Ошибка при шифровании сообщения, отправка отменена."},
    {u"Warning", u"Внимание"},
    {u"AboutPlugin", u"О плагине"},
    {u"OriginalMsgError", u"[Ошибка при расшифровке] Оригинальное сообщение:"},
    {u"BrowseFile", u"Указать файл..."},
    {u"ListUnread",
     u"Список уинов (MistlockWho.ini) не удалось прочитать при запуске, поэтому неизвестно, кому шифровать. "
     u"Отправка отменена. Исправьте файл и перезапустите мессенджер, проверьте список в настройках шифрования "
     u"и нажмите ОК или выключите шифрование."},
    {u"SettingsUnread",
     u"Файл настроек (Mistlock.ini) не удалось прочитать при запуске, поэтому ключ неизвестен. Отправка отменена. "
     u"Исправьте файл и перезапустите мессенджер, проверьте настройки шифрования и нажмите ОК или выключите "
     u"шифрование."},
    {u"ListMissing",
     u"Файл со списком уинов (MistlockWho.ini) пропал из папки настроек, а этот контакт есть в списке. "
     u"Отправка отменена. Откройте настройки шифрования и нажмите ОК, чтобы записать список снова, или выключите "
     u"шифрование."},
    {u"EmptyPassword",
     u"Пароль пуст: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка отменена. Введите пароль в "
     u"настройках шифрования."},
    {u"EmptyKeyLine",
     u"Первая строка файла с ключом пуста: сообщение, зашифрованное пустым ключом, прочтёт любой. Отправка "
     u"отменена. Запишите ключ в первую строку файла."},
    {u"BadRecord", u"Мессенджер передал сообщение в повреждённом виде, его нельзя зашифровать. Отправка отменена."},
    {u"NotStarted",
     u"Плагин шифрования не смог запуститься, поэтому сообщение нельзя зашифровать. Отправка отменена. "
     u"Перезапустите мессенджер."},
    {u"KeyFileUnusable",
     u"Первая строка файла с ключом не годится как ключ (причина ниже): зашифрованное ею сообщение мог бы прочесть "
     u"посторонний или не смог бы прочесть собеседник. Отправка отменена."},
    {u"ShortPassword",
     u"Пароль короче 8 символов: такой ключ можно подобрать перебором. Введите пароль длиннее или нажмите ОК ещё раз, "
     u"чтобы оставить этот (например, если его использует собеседник со старой версией плагина)."},
    {u"NoRandomNumbers",
     u"Система не дала случайных чисел, без которых сообщение нельзя зашифровать (причина ниже). Отправка отменена. "
     u"Попробуйте ещё раз; если ошибка повторится, проверьте систему."},
};

constexpr const char16_t* sectionName = u"Translation";

std::array<std::u16string, textCount> builtInTexts() {
    std::array<std::u16string, textCount> texts;
    for (int i = 0; i < textCount; ++i) texts[i] = entries[i].builtIn;
    return texts;
}

std::array<std::u16string, textCount>& currentTexts() {
    static std::array<std::u16string, textCount> texts = builtInTexts();
    return texts;
}

int indexOf(Text key) {
    const int i = static_cast<int>(key);
    return (i >= 0 && i < textCount) ? i : 0;
}

}  // namespace

const std::u16string& uiText(Text key) { return currentTexts()[indexOf(key)]; }

// For the tests alone (tests/support/module_state.h), as is resetTranslations.
const char16_t* textKeyName(Text key) { return entries[indexOf(key)].key; }

void LoadTranslations() {
    const std::u16string path = settingsPath(languageFileName);
    // A language file is a convenience: one out of reach counts as none.
    try {
        if (!platform::fileExists(path)) return;
    } catch (const Exception&) {
        return;
    }
    auto& texts = currentTexts();
    for (int i = 0; i < textCount; ++i) {
        // A language file is a convenience: whatever cannot be read leaves the
        // text as it was, and nothing is reported.
        try {
            if (auto value = platform::readProfileString(path, sectionName, entries[i].key)) {
                texts[i] = std::move(*value);
            }
        } catch (...) {
        }
    }
}

void resetTranslations() { currentTexts() = builtInTexts(); }

}  // namespace setpassform
