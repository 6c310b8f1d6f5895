#pragma once
// The two message events: an outgoing message to a listed contact is sealed
// into an envelope, an incoming envelope is opened.

namespace host {

// A data reply with the plain text or the error reply, or null for no reply.
const void* decryptReceivedMessage(const void* eventRecord);
// A data reply with the envelope and the original text, a cancel reply, or
// null for no reply.
const void* encryptMessageToSend(const void* eventRecord);

}  // namespace host
