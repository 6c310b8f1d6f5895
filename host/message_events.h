#pragma once
// The two message events: an outgoing message to a listed contact is sealed
// into an envelope, an incoming envelope is opened.

namespace host {

// A data reply with the plain text or the error reply, or null for no reply.
const void* decryptReceivedMessage(const void* eventRecord);
// A data reply with the envelope and the original text, a cancel reply, or
// null for no reply.
const void* encryptMessageToSend(const void* eventRecord);

// A record that may be a message to send but cannot be read whole (its
// fields run past its length, or its length field leaves no room for them):
// null while nothing would be sealed anyway (switch off, or no list file and
// nobody on the dialog's list), otherwise the cancel reply with a box, since
// the contact cannot be known.
const void* refuseMalformedMessage() noexcept;
// A message to send while the plug-in failed to start: the cancel reply and a
// box, since what the settings say is unknown.
const void* refuseWhileNotStarted() noexcept;
// A message to send whose handling failed outside the handler: the cancel
// reply with the encryption-error box.
const void* refuseAfterFailure() noexcept;

}  // namespace host
