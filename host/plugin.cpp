// Entry point, module state and dispatch.
//
// Nothing may leave pluginFun or the button procedure as a C++ exception: the
// host is not ours and would crash. Each entry catches everything, reports it
// in the toolkit's error box and answers as if there were nothing to say.
#include "host/plugin.h"

#include <memory>

#include "envelope/key_block.h"
#include "envelope/key_check.h"
#include "host/button_address.h"
#include "host/message_events.h"
#include "host/protocol.h"
#include "platform/forms.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "settings/setpassform.h"
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

// Between an initialise event and the finalise event the plug-in runs. An
// initialise that failed half-way leaves it unable to say what the settings
// are: messages to send are then held back until the host starts it again.
enum class Stage { Stopped, Running, FailedStart };
Stage stage = Stage::Stopped;

const char16_t* iconFor(bool switchOn) { return switchOn ? u"ZEV_CRYPT" : u"ZEV"; }

// The key that messages are sealed with now (the dialog's, saved or not) and
// its check code, for friends to compare by phone before they rely on it.
std::u16string keyLines() {
    const setpassform::Tsetpass& dialog = *setpassform::setpass;
    const envelope::KeySource source{dialog.pass_check.checked(), dialog.Edit1.text(), dialog.Edit2.text()};
    std::u16string which = source.usePassword ? u"Ключ: пароль / Key: password"
                                              : u"Ключ: файл / Key: file " + source.keyFilePath;
    try {
        bool empty = false;
        const auto key = envelope::buildKeyBlock(source, setpassform::settingsFolder, &empty);
        if (!key) return which + u"\r\nФайл с ключом не найден. / The key file is not found.";
        if (empty) return which + u"\r\nКлюч не задан. / No key is set.";
        return which + u"\r\nКод проверки ключа / Key check code: " +
               platform::widen(envelope::keyCheckCode(*key));
    } catch (const std::exception& e) {
        // Messages name files in UTF-8.
        return which + u"\r\n" + utf8::decode(e.what()).value_or(u"?");
    }
}

std::u16string aboutText() {
    return platform::widen(pluginTitle) + u"\r\n\r\n" +
           u"Шифрование сообщений ICQ алгоритмом AES-256.\r\n"
           u"AES-256 encryption of ICQ messages.\r\n\r\n" +
           keyLines();
}

void showAbout() { platform::messageBox(aboutText(), setpassform::uiText(setpassform::Text::AboutPlugin)); }

// "\" closes the folder path. An empty path stands for the host's current
// folder, taken once, now: the host may change its current folder later, and
// the settings must not move with it.
std::string settingsFolderFrom(const std::string& path) {
    if (path.empty()) return platform::narrow(platform::currentFolder()) + '\\';
    if (path.back() == '\\') return path;
    return path + '\\';
}

const void* initialise(const void* record) {
    // Until the end is reached, a failure leaves the plug-in unable to send.
    stage = Stage::FailedStart;
    // What an earlier initialise that failed half-way left behind goes first.
    delete setpassform::setpass;
    setpassform::setpass = nullptr;
    toolbarIcon.reset();

    const InitialiseFields fields = parseInitialiseEvent(record);
    setpassform::settingsFolder = settingsFolderFrom(fields.secondPath);

    // The dialog reads the settings files as it is created, the switch from
    // the first line of "Mistlock.ini" among them. It is reachable through the
    // module value only once its creation has returned.
    setpassform::encryptionSwitch = false;
    auto* dialog = new setpassform::Tsetpass();
    setpassform::setpass = dialog;

    toolbarIcon = std::make_unique<ToolbarIcon>();
    toolbarIcon->assign(platform::loadIcon(iconFor(setpassform::encryptionSwitch)));

    // No button rather than one whose first click crashes the host.
    const void* procedure = buttonProcedureAddress();
    theButtonId = procedure ? addToolbarButton(procedure, toolbarIcon->handle(), pluginTitle, "") : 0;
    if (!procedure) platform::messageBox(noButtonMessage(setpassform::encryptionSwitch), platform::widen(pluginTitle));
    stage = Stage::Running;

    std::string body;
    body += static_cast<char>(DataReply);
    body += encodeCountedString(pluginTitle);
    body += encodeInt32(6);
    return frameRecord(body);
}

void finalise() {
    stage = Stage::Stopped;
    if (theButtonId != 0) removeToolbarButton(theButtonId);
    toolbarIcon.reset();
    // Destroyed without closing: nothing is saved.
    setpassform::Tsetpass* dialog = setpassform::setpass;
    setpassform::setpass = nullptr;
    delete dialog;
}

// The switch is on whenever the icon the host shows says so: switching on,
// the switch changes before the host is told; switching off, after. Should
// telling the host fail, the two still agree.
void toggleEncryption() {
    const bool on = !setpassform::encryptionSwitch;
    const platform::IconHandle icon = platform::loadIcon(iconFor(on));
    try {
        if (on) setpassform::encryptionSwitch = true;
        updateToolbarButton(theButtonId, icon, pluginTitle, "");
        setpassform::encryptionSwitch = on;
    } catch (...) {
        setpassform::encryptionSwitch = !on;
        platform::destroyIcon(icon);
        throw;
    }
    toolbarIcon->assign(icon);
    setpassform::SaveSwitch(*setpassform::setpass);
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

bool running() { return stage == Stage::Running; }

const void* messageToSend(const void* record) {
    switch (stage) {
        case Stage::Running: return encryptMessageToSend(record);
        case Stage::FailedStart: return refuseWhileNotStarted();
        case Stage::Stopped: break;
    }
    return nullptr;
}

const void* dispatch(const void* record) {
    if (!isFramedEvent(record)) return nullptr;
    const std::uint8_t code = readByte(record, 5);
    if (!eventFitsRecord(record)) {
        // A message whose contact or text cannot be read safely may still be
        // one to a listed contact.
        return code == MessageToSendEvent && running() ? refuseMalformedMessage() : nullptr;
    }
    switch (code) {
        case InitialiseEvent:
            // A second initialise without a finalise changes nothing.
            return running() ? nullptr : initialise(record);
        case FinaliseEvent:
            if (stage != Stage::Stopped) finalise();
            return nullptr;
        case AboutEvent:
            if (running()) showAbout();
            return nullptr;
        case MessageReceivedEvent:
            return running() ? decryptReceivedMessage(record) : nullptr;
        case MessageToSendEvent:
            return messageToSend(record);
        default:
            return nullptr;
    }
}

// Runs an entry point's work for the host: what it raises is shown in the
// toolkit's error box, and should showing it fail too (no memory left for the
// message, a box that cannot be shown), nothing goes any further. False when
// the work did not complete.
template <typename Work>
bool forTheHost(const Work& work) noexcept {
    bool done = false;
    try {
        forms::TForm::runHandler([&] {
            work();
            done = true;
        });
    } catch (...) {
    }
    return done;
}

}  // namespace

void toolbarButtonProc(std::int32_t code) {
    forTheHost([code] {
        if (!running()) return;
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
bool initialised() { return running(); }

}  // namespace host

extern "C" MISTLOCK_EXPORT const void* pluginFun(const void* eventRecord) {
    const void* reply = nullptr;
    if (host::forTheHost([&] { reply = host::dispatch(eventRecord); })) return reply;
    // A message to send must not go out as written because something failed
    // on its way through the plug-in.
    if (host::isFramedEvent(eventRecord) && host::readByte(eventRecord, 5) == host::MessageToSendEvent &&
        setpassform::encryptionSwitch) {
        return host::refuseAfterFailure();
    }
    return nullptr;
}
