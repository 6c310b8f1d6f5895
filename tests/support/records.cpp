#include "tests/support/records.h"

#include <stdexcept>

namespace testing_records {

std::string int32(std::int32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return out;
}

std::string counted(std::string_view text) {
    std::string out = int32(static_cast<std::int32_t>(text.size()));
    out.append(text);
    return out;
}

std::string framed(std::string_view body) { return counted(body); }

std::string eventBody(std::uint8_t code, std::string_view fields) {
    std::string body;
    body += '\x03';
    body += static_cast<char>(code);
    body.append(fields);
    return body;
}

std::string event(std::uint8_t code, std::string_view fields) { return framed(eventBody(code, fields)); }

std::string initialise(std::int32_t callbackField, const std::string& folder, const std::string& firstPath) {
    return event(1, int32(callbackField) + int32(0) + counted(firstPath) + counted(folder) + int32(0));
}

std::string initialise(const void* callback, const std::string& folder, const std::string& firstPath) {
    // The protocol carries the callback's low 32 bits.
    return initialise(static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(callback)), folder, firstPath);
}

std::string messageToSend(std::int32_t uin, std::string_view text) {
    return event(7, int32(uin) + int32(0) + counted(text));
}

std::string messageReceived(std::string_view text, std::int32_t uin) {
    return event(6, int32(uin) + int32(0) + std::string(8, '\0') + counted(text));
}

std::int32_t readInt32(const void* record, std::size_t offset) {
    const auto* p = static_cast<const unsigned char*>(record) + offset;
    return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

std::string bytesOf(const void* record) {
    const std::int32_t length = readInt32(record, 0);
    return std::string(static_cast<const char*>(record), 4 + static_cast<std::size_t>(length));
}

std::string replyString(const void* record, int index) {
    const std::string bytes = bytesOf(record);
    std::size_t offset = 5;
    for (int i = 0;; ++i) {
        if (offset + 4 > bytes.size()) throw std::out_of_range("reply has no such string");
        const std::int32_t n = readInt32(bytes.data(), offset);
        const std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (offset + 4 + len > bytes.size()) throw std::out_of_range("reply string runs past the record");
        if (i == index) return bytes.substr(offset + 4, len);
        offset += 4 + len;
    }
}

std::string hex(std::string_view bytes) {
    // Written out here rather than taken from the plug-in, so that a test's
    // expected digits never come from the code under test.
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * bytes.size());
    for (const char ch : bytes) {
        out += digits[static_cast<unsigned char>(ch) >> 4];
        out += digits[static_cast<unsigned char>(ch) & 15];
    }
    return out;
}

std::string unhex(std::string_view digits) {
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::string out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        out += static_cast<char>(value(digits[i]) << 4 | value(digits[i + 1]));
    }
    return out;
}

}  // namespace testing_records
