// The settings dialog Tsetpass and the module values that no control holds.
#include "settings/setpassform.h"

#include "platform/platform.h"
#include "resources/setpass_layout.h"
#include "settings/translations.h"

namespace setpassform {

std::string settingsFolder;
bool encryptionSwitch = false;
Tsetpass* setpass = nullptr;

std::u16string settingsPath(const char* fileName) { return platform::widen(settingsFolder + fileName); }

Tsetpass::Tsetpass()
    : forms::TForm(layout::setpassLayout),
      Label1(*this, "Label1"),
      Edit1(*this, "Edit1"),
      OD(*this, "OD"),
      Edit2(*this, "Edit2"),
      Label3(*this, "Label3"),
      Label2(*this, "Label2"),
      Label4(*this, "Label4"),
      Memo1(*this, "Memo1"),
      pass_check(*this, "pass_check"),
      file_check(*this, "file_check"),
      SaveBtn(*this, "SaveBtn"),
      OpenKeyFile(*this, "OpenKeyFile") {
    SaveBtn.onClick = [this] { SaveBtnClick(); };
    OpenKeyFile.onClick = [this] { OpenKeyFileClick(); };
    // An error while the dialog loads its texts and settings is shown to the
    // user; the dialog is created all the same and the plug-in carries on.
    forms::TForm::runHandler([this] { FormCreate(); });
}

Tsetpass::~Tsetpass() {
    // Never leave the module value pointing at a destroyed dialog.
    if (setpass == this) setpass = nullptr;
}

void Tsetpass::FormCreate() {
    // Should anything below fail before the files are read, the plug-in must
    // not take the dialog's empty controls for the user's settings.
    markSettingsUnloaded();
    LoadTranslations();
    Label1.setCaption(uiText(Text::Pass));
    Label3.setCaption(uiText(Text::KeyFile));
    Label2.setCaption(uiText(Text::Crypt));
    Label4.setCaption(uiText(Text::Use));
    pass_check.setCaption(uiText(Text::Passwd));
    file_check.setCaption(uiText(Text::Key));
    OpenKeyFile.setHint(uiText(Text::BrowseFile));
    // The module value is not set while the dialog is being created: load
    // into this very dialog.
    LoadSettings(*this);
}

void Tsetpass::FormShow() { setCaption(uiText(Text::FormTitle)); }

void Tsetpass::FormClose() {
    // A failure propagates: the toolkit shows it and the dialog stays open,
    // so the user can mend the cause and close again.
    SaveSettings(*this);
    // The user has seen what the dialog holds, and it is saved.
    confirmSettings();
}

void Tsetpass::SaveBtnClick() {
    Tsetpass& dialog = setpass ? *setpass : *this;
    if (!dialog.warnedAboutShortPassword()) dialog.close();
}

// A password this short is a key anybody can find by trying them all; yet a
// contact's older plug-in may use just that one. Pressing OK again keeps it.
bool Tsetpass::warnedAboutShortPassword() {
    if (shortPasswordWarned_ || !pass_check.checked() || Edit1.text().size() >= shortestPassword) return false;
    shortPasswordWarned_ = true;
    // Nothing of the dialog is touched after the box: the host may destroy
    // it while the box is open.
    platform::messageBox(uiText(Text::ShortPassword), uiText(Text::Warning));
    return true;
}

void Tsetpass::OpenKeyFileClick() {
    if (OD.execute()) Edit2.setText(OD.fileName());
}

void Tsetpass::onShow() { FormShow(); }
void Tsetpass::onClose() { FormClose(); }

}  // namespace setpassform
