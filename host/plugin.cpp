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

// Between an initialise event and the finalise event the plug-in runs. While
// an initialise is under way, and after one that failed half-way, it cannot
// say what the settings are: messages to send are then held back until the
// host starts it again.
enum class Stage { Stopped, Starting, Running, FailedStart };
Stage stage = Stage::Stopped;

// The host may call in again from inside any box the plug-in shows and any
// command it sends, even to finalise, and then to initialise anew. Each start
// and stop begins a new session; work that waited on the host or a box goes
// on only if its session is still the current one.
unsigned long sessionCount = 0;

class Session {
public:
    Session() : number_(sessionCount) {}
    bool current() const { return number_ == sessionCount; }

private:
    unsigned long number_;
};

Session beginSession(Stage next) {
    stage = next;
    ++sessionCount;
    return Session();
}

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
        const auto keys = envelope::buildMessageKeys(source, setpassform::settingsFolder, &empty);
        if (!keys) return which + u"\r\nФайл с ключом не найден. / The key file is not found.";
        if (empty) return which + u"\r\nКлюч не задан. / No key is set.";
        // A sealed key file's messages are sealed under its sealed key: that
        // is the key both sides must hold.
        if (keys->sealed) {
            which += u"\r\nФайл запечатанных конвертов: сообщения с проверкой подлинности. / Sealed key file: "
                     u"authenticated messages.";
        }
        return which + u"\r\nКод проверки ключа / Key check code: " +
               platform::widen(envelope::keyCheckCode(keys->sealed ? *keys->sealed : keys->block));
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

// The work of an initialise that has begun its session. Null when the host
// ended the session meanwhile: it has had its answer.
const void* start(const void* record, const Session& mine) {
    const InitialiseFields fields = parseInitialiseEvent(record);
    setpassform::settingsFolder = settingsFolderFrom(fields.secondPath);

    // The dialog reads the settings files as it is created, the switch from
    // the first line of "Mistlock.ini" among them. It is reachable through the
    // module value only once its creation has returned, and only if the host
    // did not finalise while a box of its creation was open.
    setpassform::encryptionSwitch = false;
    std::unique_ptr<setpassform::Tsetpass> dialog(new setpassform::Tsetpass());
    if (!mine.current()) return nullptr;
    setpassform::setpass = dialog.release();

    toolbarIcon = std::make_unique<ToolbarIcon>();
    toolbarIcon->assign(platform::loadIcon(iconFor(setpassform::encryptionSwitch)));

    // No button rather than one whose first click crashes the host.
    const void* procedure = buttonProcedureAddress();
    if (procedure) {
        std::int32_t id = addToolbarButton(procedure, toolbarIcon->handle(), pluginTitle, "");
        if (!mine.current()) {
            // Finalised while the button was being added: the finalise could
            // not know its id, so it goes now.
            if (id != 0) removeToolbarButton(id);
            return nullptr;
        }
        theButtonId = id;
    } else {
        theButtonId = 0;
        platform::messageBox(noButtonMessage(setpassform::encryptionSwitch), platform::widen(pluginTitle));
        if (!mine.current()) return nullptr;
    }
    stage = Stage::Running;

    std::string body;
    body += static_cast<char>(DataReply);
    body += encodeCountedString(pluginTitle);
    body += encodeInt32(6);
    return frameRecord(body);
}

const void* initialise(const void* record) {
    // Until the end is reached, a failure leaves the plug-in unable to send.
    const Session mine = beginSession(Stage::Starting);
    // What an earlier initialise that failed half-way left behind goes first.
    delete setpassform::setpass;
    setpassform::setpass = nullptr;
    toolbarIcon.reset();
    try {
        return start(record, mine);
    } catch (...) {
        if (mine.current()) stage = Stage::FailedStart;
        throw;
    }
}

void finalise() {
    beginSession(Stage::Stopped);
    // Out of the module state before the host hears of it: while it removes
    // the button it may start the plug-in again, with state of its own.
    std::unique_ptr<ToolbarIcon> icon = std::move(toolbarIcon);
    std::unique_ptr<setpassform::Tsetpass> dialog(setpassform::setpass);
    setpassform::setpass = nullptr;
    std::int32_t id = theButtonId;
    theButtonId = 0;
    if (id != 0) removeToolbarButton(id);
    icon.reset();
    // Destroyed without closing: nothing is saved.
    dialog.reset();
}

// The switch is on whenever the icon the host shows says so: switching on,
// the switch changes before the host is told; switching off, after. Should
// telling the host fail, the two still agree.
void toggleEncryption() {
    const Session mine;
    const bool on = !setpassform::encryptionSwitch;
    const platform::IconHandle icon = platform::loadIcon(iconFor(on));
    try {
        if (on) setpassform::encryptionSwitch = true;
        updateToolbarButton(theButtonId, icon, pluginTitle, "");
    } catch (...) {
        if (mine.current()) setpassform::encryptionSwitch = !on;
        platform::destroyIcon(icon);
        throw;
    }
    // Finalised while the host was told: the switch, the icon and the
    // dialog are no longer this toggle's to change.
    if (!mine.current()) {
        platform::destroyIcon(icon);
        return;
    }
    setpassform::encryptionSwitch = on;
    toolbarIcon->assign(icon);
    setpassform::SaveSwitch(*setpassform::setpass);
}

void showSettings() {
    const Session mine;
    // Without the list file nothing is encrypted; a failure to create it (or
    // to tell whether it is there) is reported and the dialog still opens.
    forms::TForm::runHandler([] {
        if (!platform::fileExists(setpassform::settingsPath(setpassform::uinListFileName))) {
            setpassform::SaveUinList(*setpassform::setpass);
        }
    });
    // While a box was open the host may have called in again, even to
    // finalise, which destroys the dialog.
    if (!mine.current()) return;
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
        case Stage::Starting:
        case Stage::FailedStart: return refuseWhileNotStarted();
        case Stage::Stopped: break;
    }
    return nullptr;
}

// A message whose contact or text cannot be read safely may still be one to
// a listed contact.
const void* unreadableMessage() {
    switch (stage) {
        case Stage::Running: return refuseMalformedMessage();
        case Stage::Starting:
        case Stage::FailedStart: return refuseWhileNotStarted();
        case Stage::Stopped: break;
    }
    return nullptr;
}

// A record whose length field leaves no room for its kind and event code
// (0, 1 or negative) cannot say what it is: it may be a message to send whose
// length field is what was damaged. Only what can be read of it, a kind that
// is not an event's, makes it plainly something else.
bool mayBeMessageToSend(const void* record) {
    if (!record) return false;
    return !(readInt32(record, 0) >= 1 && recordKindOf(record) != EventRecord);
}

const void* dispatch(const void* record) {
    if (!isFramedEvent(record)) return mayBeMessageToSend(record) ? unreadableMessage() : nullptr;
    const std::uint8_t code = eventCodeOf(record);
    if (!eventFitsRecord(record)) return code == MessageToSendEvent ? unreadableMessage() : nullptr;
    switch (code) {
        case InitialiseEvent:
            // A second initialise without a finalise, or while one is under
            // way, changes nothing.
            return running() || stage == Stage::Starting ? nullptr : initialise(record);
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
            case SwitchButton: toggleEncryption(); break;
            case SettingsButton: showSettings(); break;
            case AboutButton: showAbout(); break;
            default: break;
        }
    });
}

// For the tests alone (tests/support/module_state.h).
std::int32_t buttonId() { return theButtonId; }
bool initialised() { return running(); }

}  // namespace host

extern "C" MISTLOCK_EXPORT const void* pluginFun(const void* eventRecord) {
    const void* reply = nullptr;
    if (host::forTheHost([&] { reply = host::dispatch(eventRecord); })) return reply;
    // A message to send must not go out as written because something failed
    // on its way through the plug-in.
    if (host::isFramedEvent(eventRecord) && host::eventCodeOf(eventRecord) == host::MessageToSendEvent &&
        setpassform::encryptionSwitch) {
        return host::refuseAfterFailure();
    }
    return nullptr;
}
