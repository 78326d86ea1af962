// The list of open rooms as JSON: see rooms.h. The reader knows just enough JSON for the list: objects,
// arrays, strings, whole numbers, true, false and null, nested a few deep at most.
#include "online/rooms.h"

#include <algorithm>
#include <cstdio>

namespace online {

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') out += '\\', out += c;
        else if (u < 0x20 || u > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else out += c;
    }
    return out + "\"";
}

// A JSON value of the list: a string or a whole number is kept, anything else read past.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}
    bool list(std::vector<OpenRoom>* rooms) {
        bool seen = false;
        bool ok = object([&](const std::string& key) {
            if (key != "rooms") return skip(0);
            seen = true;
            return array([&] {
                OpenRoom room;
                if (!object([&](const std::string& k) { return field(k, &room); })) return false;
                rooms->push_back(std::move(room));
                return true;
            });
        });
        space();
        return ok && seen && at_ == text_.size();
    }

private:
    static constexpr int kDepth = 8;

    bool field(const std::string& key, OpenRoom* room) {
        if (key == "code") {
            std::string code;
            return string(&code) && parse_code(code, &room->code);
        }
        if (key == "map") return string(&room->map);
        if (key == "state") {
            std::string state;
            if (!string(&state)) return false;
            room->playing = state == "playing";
            return true;
        }
        int* count = key == "seated"     ? &room->seated
                     : key == "free"     ? &room->free
                     : key == "watchers" ? &room->watchers
                                         : nullptr;
        if (count || key == "age") {
            int64_t value = 0;
            if (!whole(&value)) return false;
            if (count) *count = static_cast<int>(std::clamp<int64_t>(value, -1000, 1000));
            else room->age = value;
            return true;
        }
        return skip(1);
    }
    void space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            at_++;
    }
    bool eat(char c) {
        space();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        at_++;
        return true;
    }
    bool peek(char c) {
        space();
        return at_ < text_.size() && text_[at_] == c;
    }
    template <typename F>
    bool object(F each) {
        if (!eat('{')) return false;
        if (eat('}')) return true;
        do {
            std::string key;
            if (!string(&key) || !eat(':') || !each(key)) return false;
        } while (eat(','));
        return eat('}');
    }
    template <typename F>
    bool array(F each) {
        if (!eat('[')) return false;
        if (eat(']')) return true;
        do
            if (!each()) return false;
        while (eat(','));
        return eat(']');
    }
    // Non-ASCII characters read as '?': the list names the built-in maps.
    bool string(std::string* out) {
        if (!eat('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c == '\\') {
                if (at_ >= text_.size()) return false;
                char e = text_[at_++];
                if (e == 'u') {
                    if (at_ + 4 > text_.size()) return false;
                    unsigned v = 0;
                    if (std::sscanf(std::string(text_.substr(at_, 4)).c_str(), "%4x", &v) != 1) return false;
                    at_ += 4;
                    c = v >= 0x20 && v <= 0x7E ? static_cast<char>(v) : '?';
                } else if (e == '"' || e == '\\' || e == '/') c = e;
                else if (e == 'n' || e == 't' || e == 'r' || e == 'b' || e == 'f') c = ' ';
                else return false;
            }
            if (static_cast<unsigned char>(c) > 0x7E) c = '?';
            *out += c;
        }
        return eat('"');
    }
    bool whole(int64_t* value) {
        space();
        size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') at_++;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9' && at_ - start < 15) at_++;
        if (at_ == start || (at_ == start + 1 && text_[start] == '-')) return false;
        *value = std::stoll(std::string(text_.substr(start, at_ - start)));
        return true;
    }
    bool skip(int depth) {
        if (depth > kDepth) return false;
        if (peek('"')) {
            std::string ignored;
            return string(&ignored);
        }
        if (peek('{')) return object([&](const std::string&) { return skip(depth + 1); });
        if (peek('[')) return array([&] { return skip(depth + 1); });
        for (std::string_view word : {"true", "false", "null"})
            if (text_.substr(at_, word.size()) == word) return at_ += word.size(), true;
        int64_t ignored = 0;
        if (!whole(&ignored)) return false;
        // A fraction or an exponent of a number this list does not use.
        while (at_ < text_.size() && std::string_view("0123456789.eE+-").find(text_[at_]) != std::string_view::npos)
            at_++;
        return true;
    }

    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace

std::string rooms_json(const std::vector<OpenRoom>& rooms) {
    std::string out = "{\"rooms\":[";
    for (size_t i = 0; i < rooms.size(); i++) {
        const OpenRoom& r = rooms[i];
        if (i) out += ',';
        out += "{\"code\":" + quoted(show_code(r.code)) + ",\"map\":" + quoted(r.map) +
               ",\"seated\":" + std::to_string(r.seated) + ",\"free\":" + std::to_string(r.free) +
               ",\"watchers\":" + std::to_string(r.watchers) + ",\"state\":\"" + (r.playing ? "playing" : "title") +
               "\",\"age\":" + std::to_string(r.age) + "}";
    }
    return out + "]}\n";
}

std::optional<std::vector<OpenRoom>> parse_rooms_json(std::string_view text) {
    std::vector<OpenRoom> rooms;
    if (!Reader(text).list(&rooms)) return std::nullopt;
    return rooms;
}

std::string rooms_table(const std::vector<OpenRoom>& rooms) {
    if (rooms.empty()) return "no open rooms\n";
    std::string out;
    char line[160];
    std::snprintf(line, sizeof line, "%-10s %-16s %6s %5s %8s %-8s %s\n", "CODE", "MAP", "SEATED", "FREE", "WATCHERS",
                  "STATE", "AGE");
    out += line;
    for (const OpenRoom& r : rooms) {
        std::string map = r.map.substr(0, 16);
        std::snprintf(line, sizeof line, "%-10s %-16s %6d %5d %8d %-8s %llds\n", show_code(r.code).c_str(), map.c_str(),
                      r.seated, r.free, r.watchers, r.playing ? "playing" : "title", static_cast<long long>(r.age));
        out += line;
    }
    return out;
}

}  // namespace online
