// The two message events. Nothing that goes wrong with a message reaches the
// host: every failure ends in a reply and, when sending, a message box.
#include "host/message_events.h"

#include <string>

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

const void* dataReply(const std::string& first) {
    std::string body;
    body += static_cast<char>(DataReply);
    body += encodeCountedString(first);
    return frameRecord(body);
}

const void* cancelReply() { return frameRecord(std::string(1, static_cast<char>(CancelReply))); }

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
    if (platform::widen(received).compare(0, envelope::marker.size(), platform::widen(envelope::marker)) != 0) {
        return nullptr;
    }
    const std::string hexText = received.substr(envelope::marker.size());
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
    if (!platform::fileExists(setpassform::settingsPath(setpassform::uinListFileName))) return nullptr;
    const MessageToSendFields fields = parseMessageToSendEvent(eventRecord);
    if (!uinIsListed(fields.uin)) return nullptr;

    try {
        const auto key = envelope::buildKeyBlock(keySourceFromDialog(), setpassform::settingsFolder);
        if (!key) {
            const void* reply = cancelReply();
            platform::messageBox(uiText(Text::KeyNotFound), uiText(Text::Warning));
            return reply;
        }
        const std::string sealed = envelope::seal(fields.text, *key, platform::ansiCodePage());
        std::string body;
        body += static_cast<char>(DataReply);
        body += encodeCountedString(sealed);
        body += encodeCountedString(fields.text);
        return frameRecord(body);
    } catch (const std::exception&) {
        const void* reply = cancelReply();
        platform::messageBox(uiText(Text::CryptError), u"");
        return reply;
    }
}

}  // namespace host
