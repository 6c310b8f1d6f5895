// Entry point, module state and dispatch.
//
// Nothing may leave pluginFun or the button procedure as a C++ exception: the
// host is not ours and would crash. Each entry catches everything, reports it
// in the toolkit's error box and answers as if there were nothing to say.
#include "host/plugin.h"

#include <memory>

#include "host/message_events.h"
#include "host/protocol.h"
#include "platform/forms.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
#include "settings/text_file.h"
#include "settings/translations.h"

namespace host {

namespace {

// An icon object that owns one handle: a new handle releases the old one.
class ToolbarIcon {
public:
    ~ToolbarIcon() { assign(0); }
    void assign(platform::IconHandle handle) {
        if (handle_) platform::destroyIcon(handle_);
        handle_ = handle;
    }
    platform::IconHandle handle() const { return handle_; }

private:
    platform::IconHandle handle_ = 0;
};

std::int32_t theButtonId = 0;
std::unique_ptr<ToolbarIcon> toolbarIcon;
bool isInitialised = false;

const char16_t* iconFor(bool switchOn) { return switchOn ? u"ZEV_CRYPT" : u"ZEV"; }

std::u16string aboutText() {
    return platform::widen(pluginTitle) + u"\r\n\r\n" +
           u"Шифрование сообщений ICQ алгоритмом AES-256.\r\n"
           u"AES-256 encryption of ICQ messages.";
}

void showAbout() { platform::messageBox(aboutText(), setpassform::uiText(setpassform::Text::AboutPlugin)); }

// "\" closes the folder path. An empty path stands for the host's current
// folder, so that the settings files still have a well-formed place.
std::string settingsFolderFrom(const std::string& path) {
    if (path.empty()) return ".\\";
    if (path.back() == '\\') return path;
    return path + '\\';
}

// True when the first line of the settings file is exactly "on". A file that
// cannot be read (or found) has already been reported while the dialog loaded it.
bool settingsFileSaysOn() {
    const std::u16string path = setpassform::settingsPath(setpassform::settingsFileName);
    try {
        if (!platform::fileExists(path)) return false;
        const auto lines = setpassform::splitLines(setpassform::readTextFile(path).text);
        return !lines.empty() && lines.front() == u"on";
    } catch (const Exception&) {
        return false;
    }
}

const void* initialise(const void* record) {
    // What an earlier initialise that failed half-way left behind goes first.
    delete setpassform::setpass;
    setpassform::setpass = nullptr;

    const InitialiseFields fields = parseInitialiseEvent(record);
    setpassform::settingsFolder = settingsFolderFrom(fields.secondPath);

    // The dialog is reachable through the module value only once its creation
    // has returned.
    auto* dialog = new setpassform::Tsetpass();
    setpassform::setpass = dialog;

    toolbarIcon = std::make_unique<ToolbarIcon>();
    setpassform::encryptionSwitch = false;
    toolbarIcon->assign(platform::loadIcon(iconFor(false)));
    if (settingsFileSaysOn()) {
        setpassform::encryptionSwitch = true;
        toolbarIcon->assign(platform::loadIcon(iconFor(true)));
    }

    theButtonId = addToolbarButton(reinterpret_cast<const void*>(&toolbarButtonProc), toolbarIcon->handle(),
                                   pluginTitle, "");
    isInitialised = true;

    std::string body;
    body += static_cast<char>(DataReply);
    body += encodeCountedString(pluginTitle);
    body += encodeInt32(6);
    return frameRecord(body);
}

void finalise() {
    isInitialised = false;
    if (theButtonId != 0) removeToolbarButton(theButtonId);
    toolbarIcon.reset();
    // Destroyed without closing: nothing is saved.
    setpassform::Tsetpass* dialog = setpassform::setpass;
    setpassform::setpass = nullptr;
    delete dialog;
}

void toggleEncryption() {
    setpassform::encryptionSwitch = !setpassform::encryptionSwitch;
    toolbarIcon->assign(platform::loadIcon(iconFor(setpassform::encryptionSwitch)));
    updateToolbarButton(theButtonId, toolbarIcon->handle(), pluginTitle, "");
    setpassform::SaveSettings(*setpassform::setpass);
}

void showSettings() {
    // Without the list file nothing is encrypted; a failure to create it (or
    // to tell whether it is there) is reported and the dialog still opens.
    forms::TForm::runHandler([] {
        if (!platform::fileExists(setpassform::settingsPath(setpassform::uinListFileName))) {
            setpassform::SaveUinList(*setpassform::setpass);
        }
    });
    // While an error box was open the host may have called in again, even to
    // finalise, which destroys the dialog.
    if (!setpassform::setpass) return;
    setpassform::Tsetpass& dialog = *setpassform::setpass;
    const platform::MonitorBounds monitor = platform::foregroundMonitorBounds();
    dialog.setTop(monitor.top + monitor.height / 2 - dialog.height() / 2);
    dialog.setLeft(monitor.left + monitor.width / 2 - dialog.width() / 2);
    dialog.show();
}

const void* dispatch(const void* record) {
    if (!eventFitsRecord(record)) return nullptr;
    switch (readByte(record, 5)) {
        case InitialiseEvent:
            // A second initialise without a finalise changes nothing.
            return isInitialised ? nullptr : initialise(record);
        case FinaliseEvent:
            if (isInitialised) finalise();
            return nullptr;
        case AboutEvent:
            if (isInitialised) showAbout();
            return nullptr;
        case MessageReceivedEvent:
            return isInitialised ? decryptReceivedMessage(record) : nullptr;
        case MessageToSendEvent:
            return isInitialised ? encryptMessageToSend(record) : nullptr;
        default:
            return nullptr;
    }
}

// Runs an entry point's work for the host: what it raises is shown in the
// toolkit's error box, and should showing it fail too (no memory left for the
// message, a box that cannot be shown), nothing goes any further.
template <typename Work>
void forTheHost(const Work& work) noexcept {
    try {
        forms::TForm::runHandler(work);
    } catch (...) {
    }
}

}  // namespace

void toolbarButtonProc(std::int32_t code) {
    forTheHost([code] {
        if (!isInitialised) return;
        switch (code) {
            case 0: toggleEncryption(); break;
            case 1: showSettings(); break;
            case 2: showAbout(); break;
            default: break;
        }
    });
}

std::int32_t buttonId() { return theButtonId; }
std::uintptr_t toolbarIconHandle() { return toolbarIcon ? toolbarIcon->handle() : 0; }
bool initialised() { return isInitialised; }

}  // namespace host

extern "C" MISTLOCK_EXPORT const void* pluginFun(const void* eventRecord) {
    const void* reply = nullptr;
    host::forTheHost([&] { reply = host::dispatch(eventRecord); });
    return reply;
}
