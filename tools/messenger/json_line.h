#pragma once
// One JSON object a line, written in the order the fields are added.
#include <cstdint>
#include <string>

namespace messenger {

class JsonLine {
public:
    explicit JsonLine(const std::string& type);
    void add(const std::string& key, const std::string& utf8Value);
    void add(const std::string& key, const char* utf8Value) { add(key, std::string(utf8Value)); }
    void add(const std::string& key, std::int32_t value);
    void add(const std::string& key, bool value);
    void addNull(const std::string& key);
    // Writes the line to standard output and flushes it.
    void print();

private:
    void key(const std::string& name);
    std::string out_;
};

std::string toHexNumber(std::uint32_t value); // "0x0040A1B0"
// Hex digits to bytes; blanks between pairs are allowed. Throws on anything else.
std::string fromHex(const std::string& digits);

}  // namespace messenger
