#pragma once
// Event records as the messenger builds them, and bytes as hex digits, for
// every program that plays the messenger: the tests, the fuzz targets and the
// benchmarks. Plain C++ on purpose (no GoogleTest, no plug-in code), so that
// each of them can link it and its expectations stay independent of the
// plug-in's own codec.
#include <cstdint>
#include <string>
#include <string_view>

namespace testing_records {

// A 32-bit integer as four little-endian bytes.
std::string int32(std::int32_t value);
// A counted string: its length as int32, then its bytes.
std::string counted(std::string_view text);
// A record: the body behind a length field that counts it exactly.
std::string framed(std::string_view body);
// An event record's body: kind 3, the code, then the fields.
std::string eventBody(std::uint8_t code, std::string_view fields = {});
// A whole event record: length, kind 3, the code, then the fields.
std::string event(std::uint8_t code, std::string_view fields = {});
// The initialise event, with the callback as its 32-bit field.
std::string initialise(std::int32_t callbackField, const std::string& folder, const std::string& firstPath = "");
std::string initialise(const void* callback, const std::string& folder, const std::string& firstPath = "");
std::string messageToSend(std::int32_t uin, std::string_view text);
// The message-received event; its time stamp (a double) is zero.
std::string messageReceived(std::string_view text, std::int32_t uin = 0);

std::int32_t readInt32(const void* record, std::size_t offset);
// The whole record a pointer points at (length field included).
std::string bytesOf(const void* record);
// The counted strings of a data reply, read from offset 5 on; throws
// std::out_of_range when the reply has no such string or it runs past the end.
std::string replyString(const void* record, int index = 0);

// Two uppercase digits a byte, high nibble first.
std::string hex(std::string_view bytes);
// Pairs of digits of either case to bytes; an unpaired last digit is ignored,
// anything else but a digit throws std::invalid_argument.
std::string unhex(std::string_view digits);

}  // namespace testing_records
