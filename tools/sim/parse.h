// Words and numbers of a script line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A script line that cannot be run; the message says why.
struct ScriptError {
    std::string message;
};

// The blank-separated words of a line.
std::vector<std::string> split_words(std::string_view line);

// A whole decimal (or 0x hexadecimal) integer within lo..hi; throws ScriptError naming what.
long long parse_int(const std::string& word, long long lo, long long hi, const char* what);
// The value after the command-line option at *i, which *i then points at; ScriptError if there is none.
std::string value_of(int argc, char** argv, int* i);
// 1/0/true/false; throws ScriptError naming what.
bool parse_bool(const std::string& word, const char* what);

}  // namespace sim
