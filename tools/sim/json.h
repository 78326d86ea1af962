// One-line JSON for the driver's output: objects, arrays and escaped strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// A JSON string literal. Bytes outside printable ASCII, quotes and backslashes are escaped, every
// byte on its own (\u00XX), so that any name the game holds comes out as valid JSON.
std::string json_string(std::string_view bytes);

// A 64-bit value as 16 hexadecimal digits, as hashes are shown.
std::string hex64(uint64_t value);

// Builds {"key":value,...} in the order the keys are added.
class JsonObject {
public:
    JsonObject& number(const char* key, long long value);
    JsonObject& boolean(const char* key, bool value);
    JsonObject& string(const char* key, std::string_view value);
    // A value that is already JSON.
    JsonObject& raw(const char* key, const std::string& json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    void key(const char* name);
    std::string body_;
};

// [a,b,...] from values that are already JSON.
class JsonArray {
public:
    JsonArray& raw(const std::string& json);
    std::string str() const { return "[" + body_ + "]"; }

private:
    std::string body_;
};

std::string json_bool(bool value);

}  // namespace sim
