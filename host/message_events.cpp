// The two message events. Nothing that goes wrong with a message reaches the
// host: every failure ends in a reply and, when sending, a message box.
#include "host/message_events.h"

#include <string>
#include <string_view>

#include "host/envelope.h"
#include "host/key_block.h"
#include "host/protocol.h"
#include "platform/platform.h"
#include "settings/setpassform.h"
#include "settings/translations.h"

namespace host {

namespace {

using setpassform::Text;
using setpassform::uiText;

envelope::KeySource keySourceFromDialog() {
    const setpassform::Tsetpass& dialog = *setpassform::setpass;
    return {dialog.pass_check.checked(), dialog.Edit1.text(), dialog.Edit2.text()};
}

const void* dataReply(std::string_view first) {
    std::string body;
    body.reserve(1 + 4 + first.size());
    body += static_cast<char>(DataReply);
    appendCountedString(body, first);
    return frameRecord(body);
}

// Whether the received text, widened, begins with the marker. Only its first
// characters matter, and no ANSI code page spends more than four bytes on a
// character: widening the first 4 * 7 bytes gives the same first seven
// characters as widening the whole text, which may be hundreds of kilobytes.
bool beginsWithMarker(std::string_view received) {
    const std::string_view head = received.substr(0, 4 * envelope::marker.size());
    return platform::widen(head).compare(0, envelope::marker.size(), platform::widen(envelope::marker)) == 0;
}

// Framed only once the message box has closed: while a box is open the host
// may call in again and frame records of its own, and the pointer returned
// must be the latest framing.
const void* cancelReply() { return frameRecord(std::string(1, static_cast<char>(CancelReply))); }

// A box that cannot be shown (no memory left for its text) must not turn a
// message held back into one sent in clear: the reply is given regardless.
void tellUser(Text text, const std::u16string& caption) noexcept {
    try {
        platform::messageBox(uiText(text), caption);
    } catch (...) {
    }
}

bool uinIsListed(std::int32_t uin) {
    const std::u16string decimal = platform::widen(std::to_string(uin));
    for (const std::u16string& line : setpassform::setpass->Memo1.lines()) {
        if (line == decimal) return true;
    }
    return false;
}

}  // namespace

const void* decryptReceivedMessage(const void* eventRecord) {
    const MessageReceivedFields fields = parseMessageReceivedEvent(eventRecord);
    const std::string& received = fields.text;
    if (!beginsWithMarker(received)) return nullptr;
    const std::string_view hexText = std::string_view(received).substr(envelope::marker.size());
    try {
        const unsigned codePage = platform::ansiCodePage();
        // The digits are decoded before the key is looked for: a malformed
        // envelope gives the error reply even without a key file.
        const std::string payload = envelope::payloadOf(hexText, codePage);
        const auto key = envelope::buildKeyBlock(keySourceFromDialog(), setpassform::settingsFolder);
        if (!key) {
            platform::messageBox(uiText(Text::KeyNotFound2), uiText(Text::Warning));
            return nullptr;
        }
        return dataReply(envelope::openPayload(payload, *key, codePage).text);
    } catch (const std::exception&) {
        const std::u16string errorText =
            uiText(Text::OriginalMsgError) + u"\r\n" + platform::widen(envelope::marker) + platform::widen(hexText);
        return dataReply(platform::narrow(errorText));
    }
}

const void* encryptMessageToSend(const void* eventRecord) {
    if (!setpassform::encryptionSwitch) return nullptr;
    bool listFilePresent = false;
    try {
        listFilePresent = platform::fileExists(setpassform::settingsPath(setpassform::uinListFileName));
    } catch (const std::exception&) {
        // Whether this contact's messages are encrypted cannot be told: the
        // message is held back rather than sent in clear.
        tellUser(Text::CryptError, u"");
        return cancelReply();
    }
    if (!listFilePresent) return nullptr;
    const MessageToSendFields fields = parseMessageToSendEvent(eventRecord);
    if (!uinIsListed(fields.uin)) return nullptr;

    try {
        const auto key = envelope::buildKeyBlock(keySourceFromDialog(), setpassform::settingsFolder);
        if (!key) {
            tellUser(Text::KeyNotFound, uiText(Text::Warning));
            return cancelReply();
        }
        const std::string sealed = envelope::seal(fields.text, *key, platform::ansiCodePage());
        std::string body;
        body.reserve(1 + 4 + sealed.size() + 4 + fields.text.size());
        body += static_cast<char>(DataReply);
        appendCountedString(body, sealed);
        appendCountedString(body, fields.text);
        return frameRecord(body);
    } catch (const std::exception&) {
        tellUser(Text::CryptError, u"");
        return cancelReply();
    }
}

}  // namespace host
