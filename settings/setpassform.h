#pragma once
// The settings dialog module: the dialog Tsetpass, whose controls are the live
// store of the key source, the password, the key-file path and the UIN list;
// the two settings files that mirror them; and the module values that no
// control holds, the settings folder and the encryption switch.
#include <cstddef>
#include <string>

#include "platform/forms.h"

namespace setpassform {

class Tsetpass : public forms::TForm {
public:
    // Creates the dialog hidden and runs FormCreate; an error there is shown
    // in the toolkit's error box and creation completes.
    Tsetpass();
    ~Tsetpass() override;

    forms::TLabel Label1;
    forms::TEdit Edit1;  // the password
    forms::TOpenDialog OD;
    forms::TEdit Edit2;  // the key-file path
    forms::TLabel Label3;
    forms::TLabel Label2;
    forms::TLabel Label4;
    forms::TMemo Memo1;  // the UIN list
    forms::TRadioButton pass_check;
    forms::TRadioButton file_check;
    forms::TButton SaveBtn;
    forms::TSpeedButton OpenKeyFile;

    void FormCreate();
    void FormShow();
    void FormClose();
    void SaveBtnClick();
    void OpenKeyFileClick();

    // The fewest characters of a password that OK takes without a warning.
    static constexpr std::size_t shortestPassword = 8;

protected:
    void onShow() override;
    void onClose() override;

private:
    // True, once the warning has been shown, when the password is shorter
    // than shortestPassword: OK then leaves the dialog open. Once a dialog.
    bool warnedAboutShortPassword();
    bool shortPasswordWarned_ = false;
};

// ---- Module values ---------------------------------------------------------

// 8-bit path in the ANSI code page; ends with a backslash once set.
extern std::string settingsFolder;
extern bool encryptionSwitch;
// The one dialog, set once its creation has returned; null before and after.
extern Tsetpass* setpass;

inline constexpr const char* settingsFileName = "Mistlock.ini";
inline constexpr const char* uinListFileName = "MistlockWho.ini";
inline constexpr const char* languageFileName = "Mistlock.lng";

// The settings folder followed by a file name, widened for the file system.
std::u16string settingsPath(const char* fileName);

// ---- Settings files --------------------------------------------------------

// Writes "Mistlock.ini" from the switch and the dialog, then "MistlockWho.ini"
// from Memo1, each in the ANSI code page (the list: in the encoding it was
// read in) unless that would lose a character. Each file is replaced whole or
// not at all; when the first fails the second is not touched. Throws with a
// message naming the file and cause. Before a file is replaced, bytes of it
// that did not load, changed on disk since, or are not carried by the save
// are kept beside it (the user is told where).
void SaveSettings(Tsetpass& dialog);

// Fills Memo1 from "MistlockWho.ini", then the switch, the key source, Edit1
// and Edit2 from "Mistlock.ini", each file only if anything is at its path.
// Each file is loaded on its own: one that does not load whole (see
// loaded), or something that is not a file in its place, applies what it
// has, the other file is still loaded, and then one exception tells the user
// about both.
void LoadSettings(Tsetpass& dialog);

// Writes Memo1 alone to "MistlockWho.ini", by the same rules as SaveSettings;
// nothing while the list counts as not loaded.
void SaveUinList(Tsetpass& dialog);

// ---- Files that did not load -------------------------------------------------
// A settings file that exists but did not load whole (it could not be read,
// is not in the encoding it claims, is cut short by a NUL, or lacks lines)
// leaves the dialog without the user's settings. Until the user has looked at
// the dialog and closed it, the plug-in cannot know what those settings were:
// messages are held back, only the dialog's close writes the file, and its
// bytes are kept beside it first.

enum class SettingsFile { Settings, UinList };

// False from a failed load until the user has confirmed the dialog; true
// when the file loaded or was absent.
bool loaded(SettingsFile file);

// Before the files are loaded: both count as not loaded, so that a failure
// that ends the dialog's creation early still holds messages back.
void markSettingsUnloaded() noexcept;
// The user has seen the dialog and closed it, which saved it: what it holds
// is the user's settings from now on.
void confirmSettings() noexcept;

// Writes both files as a toggle of the switch does: a file that did not load
// is left as it is until the user confirms the dialog.
void SaveSwitch(Tsetpass& dialog);

}  // namespace setpassform
