#pragma once
// The byte records exchanged with the host messenger, and the codec that
// builds and reads them.
//
// Every record is a 4-byte little-endian length (the bytes that follow it), a
// record-kind byte, and content that depends on the kind. A record pointer
// points at the first byte of the length field. The readers trust the offsets
// they are given; eventFitsRecord() checks an event against its length first.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace host {

enum RecordKind : std::uint8_t {
    DataReply = 2,
    EventRecord = 3,
    CancelReply = 4,
    CommandRecord = 5,
};

enum EventCode : std::uint8_t {
    InitialiseEvent = 1,
    FinaliseEvent = 2,
    AboutEvent = 3,
    MessageReceivedEvent = 6,
    MessageToSendEvent = 7,
};

// What the host passes the toolbar button's procedure.
enum ButtonCode : std::int32_t {
    SwitchButton = 0,    // switch encryption on or off
    SettingsButton = 1,  // show the settings dialog
    AboutButton = 2,     // show the about box
};

enum CommandCode : std::uint8_t {
    AddButtonCommand = 0xC9,
    UpdateButtonCommand = 0xCA,
    RemoveButtonCommand = 0xCB,
};

// The host's callback: takes a command record, returns the host reply.
using HostCallback = const void* (*)(const void* commandRecord);

std::string encodeInt32(std::int32_t value);
// A counted string: the length as encodeInt32, then the bytes.
std::string encodeCountedString(std::string_view text);
// The same appended to a body in place, without a string of its own.
void appendCountedString(std::string& body, std::string_view text);

// The kind byte of a record (RecordKind), after its length field; and the
// code byte of an event (EventCode), after the kind.
std::uint8_t recordKindOf(const void* record);
std::uint8_t eventCodeOf(const void* record);
std::int32_t readInt32(const void* record, std::int32_t offset);
// The signed 32-bit value at the offset, sign-extended to a full pointer.
const void* readAddress32(const void* record, std::int32_t offset);
// Empty for a length of 0 or less.
std::string readCountedString(const void* record, std::int32_t offset);
double readDouble(const void* record, std::int32_t offset);

// Frames a body (the bytes from offset 4 on) into the reply buffer and returns
// the record. It stays valid until the next framing, reply or command alike.
const void* frameRecord(std::string_view body);

// Frames a command record and hands it to the host callback; callHost returns
// the host reply, tellHost drops it. Only after an initialise event.
const void* callHost(std::string_view body);
void tellHost(std::string_view body);

// The toolbar-button commands. Addresses and handles travel as their low 32 bits.
std::int32_t addToolbarButton(const void* procedure, platform::IconHandle icon, std::string_view firstText,
                              std::string_view secondText);
void updateToolbarButton(std::int32_t buttonId, platform::IconHandle icon, std::string_view firstText,
                         std::string_view secondText);
// Sends the remove command; the id is 0 afterwards.
void removeToolbarButton(std::int32_t& buttonId);

struct InitialiseFields {
    std::int32_t integer10 = 0;
    std::string firstPath;
    std::string secondPath;  // the settings folder
    std::int32_t lastInteger = 0;
};
struct MessageReceivedFields {
    std::int32_t uin = 0;
    std::int32_t integer10 = 0;
    double double14 = 0;
    std::string text;
};
struct MessageToSendFields {
    std::int32_t uin = 0;
    std::int32_t integer10 = 0;
    std::string text;
};

// Also sets the host callback.
InitialiseFields parseInitialiseEvent(const void* record);
MessageReceivedFields parseMessageReceivedEvent(const void* record);
MessageToSendFields parseMessageToSendEvent(const void* record);

// True when the record is framed as an event: not null, a length field that
// leaves room for the event code, and kind 3.
bool isFramedEvent(const void* record);

// True when the record is a well-framed event (length above 0, kind 3) whose
// fields for its event code all lie within its length field, so that parsing
// it reads nothing outside the record. Codes without fields need only their code.
bool eventFitsRecord(const void* record);

// Codec state.
HostCallback hostCallback();

}  // namespace host
