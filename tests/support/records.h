#pragma once
// Event records as the messenger builds them, for tests that play the host.
#include <cstdint>
#include <string>

namespace testing_records {

std::string int32(std::int32_t value);
std::string counted(const std::string& text);
// A whole event record: length, kind 3, the code, then the fields.
std::string event(std::uint8_t code, const std::string& fields = "");
std::string initialise(const void* callback, const std::string& folder, const std::string& firstPath = "");
std::string messageToSend(std::int32_t uin, const std::string& text);
std::string messageReceived(const std::string& text, std::int32_t uin = 0);

std::int32_t readInt32(const void* record, std::size_t offset);
// The whole record a pointer points at (length field included).
std::string bytesOf(const void* record);
// The counted strings of a data reply, read from offset 5 on.
std::string replyString(const void* record, int index = 0);

std::string hex(const std::string& bytes);
std::string unhex(const std::string& digits);

}  // namespace testing_records
