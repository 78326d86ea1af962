// One-line JSON for the driver's output.
#include "json.h"

#include <cstdio>

namespace sim {

std::string json_string(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

std::string json_bool(bool value) { return value ? "true" : "false"; }

void JsonObject::key(const char* name) {
    if (!body_.empty()) body_ += ',';
    body_ += json_string(name);
    body_ += ':';
}

JsonObject& JsonObject::number(const char* name, long long value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::boolean(const char* name, bool value) {
    key(name);
    body_ += json_bool(value);
    return *this;
}

JsonObject& JsonObject::string(const char* name, std::string_view value) {
    key(name);
    body_ += json_string(value);
    return *this;
}

JsonObject& JsonObject::raw(const char* name, const std::string& json) {
    key(name);
    body_ += json;
    return *this;
}

JsonArray& JsonArray::raw(const std::string& json) {
    if (!body_.empty()) body_ += ',';
    body_ += json;
    return *this;
}

std::string hex64(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace sim
