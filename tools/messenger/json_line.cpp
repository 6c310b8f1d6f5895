#include "tools/messenger/json_line.h"

#include <cstdio>
#include <stdexcept>

#include "platform/hex.h"

namespace messenger {

namespace {

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04X", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

}  // namespace

JsonLine::JsonLine(const std::string& type) : out_("{\"type\":" + quoted(type)) {}

void JsonLine::key(const std::string& name) { out_ += "," + quoted(name) + ":"; }

void JsonLine::add(const std::string& name, const std::string& value) {
    key(name);
    out_ += quoted(value);
}

void JsonLine::add(const std::string& name, std::int32_t value) {
    key(name);
    out_ += std::to_string(value);
}

void JsonLine::add(const std::string& name, bool value) {
    key(name);
    out_ += value ? "true" : "false";
}

void JsonLine::addNull(const std::string& name) {
    key(name);
    out_ += "null";
}

void JsonLine::print() {
    std::fputs((out_ + "}\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string toHexNumber(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", value);
    return buf;
}

std::string fromHex(const std::string& digits) {
    std::string out;
    int high = -1;
    for (const char c : digits) {
        if (c == ' ' && high < 0) continue;
        const int v = platform::hexDigitValue(c);
        if (v < 0) throw std::invalid_argument("not a hex digit: " + std::string(1, c));
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>(high << 4 | v);
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return out;
}

}  // namespace messenger
