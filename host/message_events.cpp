// The two message events. Nothing that goes wrong with a message reaches the
// host: every failure ends in a reply and, when sending, a message box. A
// sealed key file seals into sealed envelopes; every other key source into
// classic ones. Both kinds are opened.
#include "host/message_events.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "envelope/envelope.h"
#include "envelope/key_block.h"
#include "envelope/receipt.h"
#include "envelope/sealed.h"
#include "host/protocol.h"
#include "platform/platform.h"
#include "platform/utf8.h"
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

// Which envelope the received text, widened, begins with. Only its first
// characters matter, and no ANSI code page spends more than four bytes on a
// character: widening the first 4 * 8 bytes gives the same first eight
// characters as widening the whole text, which may be hundreds of kilobytes.
// Both markers are ASCII, which every ANSI code page widens to itself.
enum class Envelope { None, Classic, Sealed };

Envelope envelopeAtStart(std::string_view received) {
    const std::u16string head = platform::widen(received.substr(0, 4 * envelope::sealed::marker.size()));
    const auto beginsWith = [&head](std::string_view marker) {
        return head.size() >= marker.size() && std::equal(marker.begin(), marker.end(), head.begin());
    };
    if (beginsWith(envelope::sealed::marker)) return Envelope::Sealed;
    return beginsWith(envelope::marker) ? Envelope::Classic : Envelope::None;
}

// The error line, CR LF, and the received text exactly as it arrived.
const void* errorReply(std::string_view received) {
    return dataReply(platform::narrow(uiText(Text::OriginalMsgError) + u"\r\n" + platform::widen(received)));
}

// A sealed envelope opens only with a sealed key file's key; every other
// failure, and a key source that is no sealed key file, gives the error reply.
const void* openSealed(std::string_view received) {
    try {
        // Its form is checked before the key is looked for, as a classic
        // envelope's digits are.
        envelope::sealed::Received sealed(received.substr(envelope::sealed::marker.size()));
        const auto keys = envelope::buildMessageKeys(keySourceFromDialog(), setpassform::settingsFolder);
        if (!keys) {
            platform::messageBox(uiText(Text::KeyNotFound2), uiText(Text::Warning));
            return nullptr;
        }
        if (!keys->sealed) return errorReply(received);
        return dataReply(envelope::sealed::open(std::move(sealed), *keys->sealed, platform::ansiCodePage()));
    } catch (const std::exception&) {
        return errorReply(received);
    }
}

// Framed only once the message box has closed: while a box is open the host
// may call in again and frame records of its own, and the pointer returned
// must be the latest framing. Should even that fail (no memory for the
// buffer), a record of its own still keeps the message from leaving.
const void* cancelReply() noexcept {
    try {
        const char body[] = {static_cast<char>(CancelReply)};
        return frameRecord(std::string_view(body, sizeof body));
    } catch (...) {
        static const unsigned char standalone[5] = {1, 0, 0, 0, CancelReply};
        return standalone;
    }
}

// The message is not sent, and the user is told why: in an untitled box for
// a failure of the encryption itself, under "Warning" for everything else. A
// box that cannot be shown (no memory left for its text) must not turn a
// message held back into one sent in clear: the reply is given regardless.
// A detail, in UTF-8, follows the text: what the file in question is and
// what to do about it.
const void* holdBack(Text why, std::string_view detail = {}) noexcept {
    try {
        std::u16string text = uiText(why);
        if (!detail.empty()) text += u"\r\n\r\n" + utf8::decode(detail).value_or(u"");
        platform::messageBox(text, why == Text::CryptError ? std::u16string() : uiText(Text::Warning));
    } catch (...) {
    }
    return cancelReply();
}

bool uinIsListed(std::int32_t uin) {
    const std::u16string decimal = platform::widen(std::to_string(uin));
    for (const std::u16string& line : setpassform::setpass->Memo1.lines()) {
        if (line == decimal) return true;
    }
    return false;
}

platform::PathKind listFileKind() {
    return platform::pathKind(setpassform::settingsPath(setpassform::uinListFileName));
}

// Whether any line of the dialog's list could be a contact's UIN.
bool listHoldsAnyone() {
    if (!setpassform::setpass) return true;
    for (const std::u16string& line : setpassform::setpass->Memo1.lines()) {
        if (!line.empty()) return true;
    }
    return false;
}

}  // namespace

const void* decryptReceivedMessage(const void* eventRecord) {
    const MessageReceivedFields fields = parseMessageReceivedEvent(eventRecord);
    const std::string& received = fields.text;
    const Envelope kind = envelopeAtStart(received);
    if (kind == Envelope::Sealed) return openSealed(received);
    if (kind == Envelope::None) return nullptr;
    const std::string_view hexText = std::string_view(received).substr(envelope::marker.size());
    try {
        const unsigned codePage = platform::ansiCodePage();
        // The digits are decoded before the key is looked for: a malformed
        // envelope gives the error reply even without a key file.
        const envelope::ReceivedDigits digits(hexText, codePage, envelope::Extent::Whole);
        const auto key = envelope::buildKeyBlock(keySourceFromDialog(), setpassform::settingsFolder);
        if (!key) {
            platform::messageBox(uiText(Text::KeyNotFound2), uiText(Text::Warning));
            return nullptr;
        }
        // From a peer on another code page too, converted into ours.
        const envelope::Received opened = envelope::openReceived(digits, *key);
        return dataReply(envelope::textInCodePage(opened, codePage));
    } catch (const std::exception&) {
        return errorReply(received);
    }
}

// Whether the message goes out as written (null), sealed, or is held back,
// in that order of questions. Anything that goes wrong on the way, before or
// after the contact is known, holds the message back: while the switch is on
// only a decision that the message is meant to go in clear may answer null.
const void* encryptMessageToSend(const void* eventRecord) {
    if (!setpassform::encryptionSwitch) return nullptr;
    try {
        // Without the list as it was saved, nobody can say who is listed.
        if (!setpassform::loaded(setpassform::SettingsFile::UinList)) return holdBack(Text::ListUnread);
        // Only a list file itself lets the list count; a folder or a link to
        // nothing in its place is no list to seal by.
        const bool listFile = listFileKind() == platform::PathKind::File;
        const MessageToSendFields fields = parseMessageToSendEvent(eventRecord);
        const bool listed = uinIsListed(fields.uin);
        // A fresh install has no list file and an empty list; a listed contact
        // without the file means the file has gone since.
        if (!listFile) return listed ? holdBack(Text::ListMissing) : nullptr;
        if (!listed) return nullptr;
        if (!setpassform::loaded(setpassform::SettingsFile::Settings)) return holdBack(Text::SettingsUnread);

        const envelope::KeySource source = keySourceFromDialog();
        bool emptyKeyText = false;
        const auto keys = envelope::buildMessageKeys(source, setpassform::settingsFolder, &emptyKeyText);
        if (!keys) return holdBack(Text::KeyNotFound);
        // The all-zero key of an empty text is one anybody can try first.
        if (emptyKeyText) return holdBack(source.usePassword ? Text::EmptyPassword : Text::EmptyKeyLine);

        const unsigned codePage = platform::ansiCodePage();
        const std::string sealed = keys->sealed ? envelope::sealed::seal(fields.text, *keys->sealed, codePage)
                                                : envelope::seal(fields.text, keys->block, codePage);
        std::string body;
        body.reserve(1 + 4 + sealed.size() + 4 + fields.text.size());
        body += static_cast<char>(DataReply);
        appendCountedString(body, sealed);
        appendCountedString(body, fields.text);
        return frameRecord(body);
    } catch (const envelope::sealed::ENoNonce& noNonce) {
        return holdBack(Text::NoRandomNumbers, noNonce.what());
    } catch (const envelope::EUnusableKeyFile& unusable) {
        return unusable.noKeyText ? holdBack(Text::EmptyKeyLine, unusable.what())
                                  : holdBack(Text::KeyFileUnusable, unusable.what());
    } catch (...) {
        return holdBack(Text::CryptError);
    }
}

const void* refuseMalformedMessage() noexcept {
    if (!setpassform::encryptionSwitch) return nullptr;
    try {
        // Only where nobody could be listed is the message plainly meant to
        // go in clear: a fresh install, nothing at the list's path at all and
        // no list in the dialog. A list file that has gone while the dialog
        // still lists contacts is no such case: the contact may be one of them.
        if (setpassform::loaded(setpassform::SettingsFile::UinList) &&
            listFileKind() == platform::PathKind::Nothing && !listHoldsAnyone()) {
            return nullptr;
        }
    } catch (...) {
    }
    return holdBack(Text::BadRecord);
}

const void* refuseWhileNotStarted() noexcept { return holdBack(Text::NotStarted); }

const void* refuseAfterFailure() noexcept { return holdBack(Text::CryptError); }

}  // namespace host
