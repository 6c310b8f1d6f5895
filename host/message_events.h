#pragma once
// The two message events: an outgoing message to a listed contact is sealed
// into an envelope, an incoming envelope is opened.

namespace host {

// A data reply with the plain text or the error reply, or null for no reply.
const void* decryptReceivedMessage(const void* eventRecord);
// A data reply with the envelope and the original text, a cancel reply, or
// null for no reply.
const void* encryptMessageToSend(const void* eventRecord);

// A message-to-send record whose fields do not fit its length: null while
// nothing would be sealed anyway (switch off, no list file), otherwise the
// cancel reply with a box, since the contact cannot be known.
const void* refuseMalformedMessage() noexcept;
// A message to send while the plug-in failed to start: the cancel reply and a
// box, since what the settings say is unknown.
const void* refuseWhileNotStarted() noexcept;
// A message to send whose handling failed outside the handler: the cancel
// reply with the encryption-error box.
const void* refuseAfterFailure() noexcept;

}  // namespace host
