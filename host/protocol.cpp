#include "host/protocol.h"

#include <cstring>

namespace host {

namespace {

// Every record: the length field, the kind; an event: its code, then its
// fields.
constexpr std::int32_t kindOffset = 4;
constexpr std::int32_t eventCodeOffset = 5;
constexpr std::int32_t eventFieldsOffset = 6;

HostCallback callback = nullptr;
std::string replyBuffer;

const std::uint8_t* bytesOf(const void* record) { return static_cast<const std::uint8_t*>(record); }

std::uint8_t readByte(const void* record, std::int32_t offset) { return bytesOf(record)[offset]; }

std::uint32_t readUint32(const void* record, std::int32_t offset) {
    const std::uint8_t* p = bytesOf(record) + offset;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string encodeLow32(std::uintptr_t value) {
    return encodeInt32(static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFFu)));
}

std::string buttonBody(std::uint8_t command, std::string_view first32, platform::IconHandle icon,
                       std::string_view firstText, std::string_view secondText) {
    std::string body;
    body += static_cast<char>(CommandRecord);
    body += static_cast<char>(command);
    body += first32;
    body += encodeLow32(icon);
    appendCountedString(body, firstText);
    appendCountedString(body, secondText);
    return body;
}

// Walks the fields of an event within a record of `size` bytes (the length
// field plus what it counts) without reading past it.
class FieldCursor {
public:
    FieldCursor(const void* record, std::int64_t size) : record_(record), size_(size) {}
    bool skip(std::int64_t width) {
        if (!ok_ || offset_ + width > size_) return ok_ = false;
        offset_ += width;
        return true;
    }
    bool skipCountedString() {
        if (!ok_ || offset_ + 4 > size_) return ok_ = false;
        const std::int32_t n = readInt32(record_, static_cast<std::int32_t>(offset_));
        return skip(4 + static_cast<std::int64_t>(n > 0 ? n : 0));
    }
    bool ok() const { return ok_; }

private:
    const void* record_;
    std::int64_t size_;
    std::int64_t offset_ = eventFieldsOffset;
    bool ok_ = true;
};

}  // namespace

std::string encodeInt32(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

void appendCountedString(std::string& body, std::string_view text) {
    body += encodeInt32(static_cast<std::int32_t>(text.size()));
    body += text;
}

std::string encodeCountedString(std::string_view text) {
    std::string out;
    out.reserve(4 + text.size());
    appendCountedString(out, text);
    return out;
}

std::uint8_t recordKindOf(const void* record) { return readByte(record, kindOffset); }
std::uint8_t eventCodeOf(const void* record) { return readByte(record, eventCodeOffset); }

std::int32_t readInt32(const void* record, std::int32_t offset) {
    return static_cast<std::int32_t>(readUint32(record, offset));
}

const void* readAddress32(const void* record, std::int32_t offset) {
    const auto widened = static_cast<std::intptr_t>(readInt32(record, offset));
    return reinterpret_cast<const void*>(widened);
}

std::string readCountedString(const void* record, std::int32_t offset) {
    const std::int32_t n = readInt32(record, offset);
    if (n <= 0) return std::string();
    return std::string(reinterpret_cast<const char*>(bytesOf(record) + offset + 4), static_cast<std::size_t>(n));
}

double readDouble(const void* record, std::int32_t offset) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytesOf(record)[offset + i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const void* frameRecord(std::string_view body) {
    const std::string length = encodeInt32(static_cast<std::int32_t>(body.size()));
    const bool bodyInBuffer =
        !replyBuffer.empty() && body.data() >= replyBuffer.data() && body.data() < replyBuffer.data() + replyBuffer.size();
    if (bodyInBuffer) {
        // Framing part of the previous reply: build aside, then take its place.
        std::string record = length;
        record += body;
        replyBuffer.swap(record);
    } else {
        // The buffer keeps its storage from one reply to the next, so a long
        // message does not cost a fresh allocation (and fresh pages) each time.
        replyBuffer.assign(length);
        replyBuffer.append(body);
    }
    return replyBuffer.data();
}

const void* callHost(std::string_view body) {
    const void* record = frameRecord(body);
    // An initialise event that named no callback leaves nobody to tell.
    return callback ? callback(record) : nullptr;
}

void tellHost(std::string_view body) { callHost(body); }

std::int32_t addToolbarButton(const void* procedure, platform::IconHandle icon, std::string_view firstText,
                              std::string_view secondText) {
    const void* reply = callHost(buttonBody(AddButtonCommand, encodeLow32(reinterpret_cast<std::uintptr_t>(procedure)),
                                            icon, firstText, secondText));
    // A host that answers with nothing has given no button.
    return reply ? readInt32(reply, 4) : 0;
}

void updateToolbarButton(std::int32_t buttonId, platform::IconHandle icon, std::string_view firstText,
                         std::string_view secondText) {
    tellHost(buttonBody(UpdateButtonCommand, encodeInt32(buttonId), icon, firstText, secondText));
}

void removeToolbarButton(std::int32_t& buttonId) {
    std::string body;
    body += static_cast<char>(CommandRecord);
    body += static_cast<char>(RemoveButtonCommand);
    body += encodeInt32(buttonId);
    tellHost(body);
    buttonId = 0;
}

InitialiseFields parseInitialiseEvent(const void* record) {
    callback = reinterpret_cast<HostCallback>(const_cast<void*>(readAddress32(record, 6)));
    InitialiseFields f;
    f.integer10 = readInt32(record, 10);
    f.firstPath = readCountedString(record, 14);
    const auto a = static_cast<std::int32_t>(f.firstPath.size());
    f.secondPath = readCountedString(record, 18 + a);
    const auto b = static_cast<std::int32_t>(f.secondPath.size());
    f.lastInteger = readInt32(record, 22 + a + b);
    return f;
}

MessageReceivedFields parseMessageReceivedEvent(const void* record) {
    MessageReceivedFields f;
    f.uin = readInt32(record, 6);
    f.integer10 = readInt32(record, 10);
    f.double14 = readDouble(record, 14);
    f.text = readCountedString(record, 22);
    return f;
}

MessageToSendFields parseMessageToSendEvent(const void* record) {
    MessageToSendFields f;
    f.uin = readInt32(record, 6);
    f.integer10 = readInt32(record, 10);
    f.text = readCountedString(record, 14);
    return f;
}

bool isFramedEvent(const void* record) {
    if (!record) return false;
    const std::int32_t length = readInt32(record, 0);
    if (length <= 0 || recordKindOf(record) != EventRecord) return false;
    return length >= 2;  // room for the event code
}

bool eventFitsRecord(const void* record) {
    if (!isFramedEvent(record)) return false;
    const std::int32_t length = readInt32(record, 0);
    FieldCursor cursor(record, 4 + static_cast<std::int64_t>(length));
    switch (eventCodeOf(record)) {
        case InitialiseEvent:
            return cursor.skip(8) && cursor.skipCountedString() && cursor.skipCountedString() && cursor.skip(4);
        case MessageReceivedEvent:
            return cursor.skip(16) && cursor.skipCountedString();
        case MessageToSendEvent:
            return cursor.skip(8) && cursor.skipCountedString();
        default:
            return true;
    }
}

HostCallback hostCallback() { return callback; }

}  // namespace host
