// Words and numbers of a script line, read strictly: "12x" or "1e3" is not a number.
#include "parse.h"

#include <charconv>

namespace sim {

std::vector<std::string> split_words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') i++;
        if (i > start) words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

long long parse_int(const std::string& word, long long lo, long long hi, const char* what) {
    std::string_view digits = word;
    bool negative = false;
    if (!digits.empty() && digits[0] == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned long long magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    bool whole = !digits.empty() && ec == std::errc() && end == digits.data() + digits.size();
    // Anything beyond 2^62 is out of every range the driver accepts.
    if (!whole || magnitude > (1ULL << 62)) throw ScriptError{std::string(what) + " is not a number: " + word};
    long long value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value < lo || value > hi)
        throw ScriptError{std::string(what) + " " + word + " is outside " + std::to_string(lo) + ".." +
                          std::to_string(hi)};
    return value;
}

bool parse_bool(const std::string& word, const char* what) {
    if (word == "1" || word == "true") return true;
    if (word == "0" || word == "false") return false;
    throw ScriptError{std::string(what) + " is not a boolean (true, false, 1 or 0): " + word};
}

std::string value_of(int argc, char** argv, int* i) {
    std::string name = argv[*i];
    if (*i + 1 >= argc) throw ScriptError{name + " needs a value"};
    return argv[++*i];
}

}  // namespace sim
