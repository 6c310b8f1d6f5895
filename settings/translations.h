#pragma once
// The user-interface texts that a language file may translate. The built-in
// texts are Russian; "Mistlock.lng" in the settings folder, section
// "Translation", replaces them once, when the settings dialog is created.
#include <string>

namespace setpassform {

// In the order in which the language file is read.
enum class Text {
    KeyNotFound,
    KeyNotFound2,
    FormTitle,
    Pass,
    KeyFile,
    Crypt,
    Use,
    Passwd,
    Key,
    CryptError,
    Warning,
    AboutPlugin,
    OriginalMsgError,
    BrowseFile,
    // Why a message to a listed contact was held back.
    ListUnread,
    SettingsUnread,
    ListMissing,
    EmptyPassword,
    EmptyKeyLine,
    BadRecord,
    NotStarted,
    KeyFileUnusable,
    // The settings dialog's warning on OK.
    ShortPassword,
    // Why a message to be sealed was held back: no nonce to be had.
    NoRandomNumbers,
};
inline constexpr int textCount = 24;

// The current text.
const std::u16string& uiText(Text key);

// Reads every key of the language file, if the file exists; a key that is
// present replaces the text (even with an empty value), an absent one keeps it.
// Reports nothing: what cannot be read stays as it was.
void LoadTranslations();

}  // namespace setpassform
