// The game's globals, units and missiles as JSON, and setting them by name.
#include "state.h"

#include <cstring>
#include <string_view>
#include <type_traits>

#include "json.h"
#include "model/globals.h"
#include "parse.h"

namespace sim {

namespace {

enum class Kind { Other, U8, U16, Bool, Bool4, U32x4, Maps, Text };

// How the state line shows a global, from its type.
template <typename T>
constexpr Kind kind_of() {
    if constexpr (std::is_same_v<T, uint8_t>) return Kind::U8;
    else if constexpr (std::is_same_v<T, uint16_t>) return Kind::U16;
    else if constexpr (std::is_same_v<T, bool>) return Kind::Bool;
    else if constexpr (std::is_same_v<T, bool[NUM_SIDES]>) return Kind::Bool4;
    else if constexpr (std::is_same_v<T, uint32_t[NUM_SIDES]>) return Kind::U32x4;
    else if constexpr (std::is_same_v<T, filename[MAX_MAPS]>) return Kind::Maps;
    else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>) return Kind::Text;
    else return Kind::Other;
}

struct Global {
    const char* name;  // the state key; null for a global the state line leaves out
    Kind kind;
    void* (*where)();  // the global in this thread's set
    long long max;  // the largest value a set accepts; for Text the buffer size
};

// Every global of the game's list; those with a key are the state keys, in output order.
// A script can set every one of them but maps.
constexpr Global kGlobals[] = {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) {key, kind_of<decltype(name)>(), []() -> void* { return &name; }, limit},
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
};

constexpr bool every_key_shown() {
    for (const Global& g : kGlobals)
        if (g.name && g.kind == Kind::Other) return false;
    return true;
}
static_assert(every_key_shown(), "a global with a state key has a type the state line cannot show");

// A fixed-size text field up to its terminator, or its whole size when there is none.
std::string_view bounded(const char* text, size_t size) { return {text, strnlen(text, size)}; }

std::string value_json(const Global& g) {
    switch (g.kind) {
        case Kind::U8: return std::to_string(*static_cast<uint8_t*>(g.where()));
        case Kind::U16: return std::to_string(*static_cast<uint16_t*>(g.where()));
        case Kind::Bool: return json_bool(*static_cast<bool*>(g.where()));
        case Kind::Bool4: {
            JsonArray a;
            for (int i = 0; i < NUM_SIDES; i++) a.raw(json_bool(static_cast<bool*>(g.where())[i]));
            return a.str();
        }
        case Kind::U32x4: {
            JsonArray a;
            for (int i = 0; i < NUM_SIDES; i++) a.raw(std::to_string(static_cast<uint32_t*>(g.where())[i]));
            return a.str();
        }
        case Kind::Maps: {
            JsonArray a;
            for (int i = 0; i < num_maps && i < MAX_MAPS; i++)
                a.raw(json_string(bounded(filelist[i].letter, MAP_NAME_SIZE)));
            return a.str();
        }
        case Kind::Text: return json_string(bounded(static_cast<char*>(g.where()), static_cast<size_t>(g.max)));
        case Kind::Other: break;
    }
    return "null";
}

std::string join_words(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); i++) {
        if (i > from) text += ' ';
        text += words[i];
    }
    return text;
}

void expect_count(const std::vector<std::string>& args, size_t count, const std::string& usage) {
    if (args.size() != count) throw ScriptError{"usage: " + usage};
}

// A unit's name: 16 characters padded with blanks, then the terminator.
void set_name(char* name, const std::string& text) {
    if (text.size() > 16) throw ScriptError{"a unit name has at most 16 characters: " + text};
    std::memset(name, ' ', 16);
    std::memcpy(name, text.data(), text.size());
    name[16] = 0;
}

}  // namespace

std::string state_json(const std::vector<std::string>& keys) {
    JsonObject o;
    if (keys.empty()) {
        for (const Global& g : kGlobals)
            if (g.name) o.raw(g.name, value_json(g));
        return o.str();
    }
    for (const std::string& key : keys) {
        const Global* found = nullptr;
        for (const Global& g : kGlobals)
            if (g.name && key == g.name) found = &g;
        if (!found) throw ScriptError{"no such state key: " + key};
        o.raw(found->name, value_json(*found));
    }
    return o.str();
}

namespace {

std::string unit_json(int slot) {
    const weapon& u = item[slot];
    std::string_view name = bounded(u.name, sizeof u.name);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return JsonObject()
        .number("slot", slot)
        .number("flag", u.flag)
        .number("side", u.side)
        .number("x", u.x)
        .number("y", u.y)
        .string("name", name)
        .number("ammo", u.ammo)
        .number("fact1", u.fact1)
        .number("fact2", u.fact2)
        .boolean("supplied", u.supplied)
        .boolean("greynow", u.greynow)
        .number("old_power", u.old_power)
        .number("old_bearing", u.old_bearing)
        .str();
}

}  // namespace

std::string units_json(const std::vector<std::string>& slots) {
    JsonArray list;
    if (slots.empty()) {
        for (int i = 0; i < NUM_UNITS; i++)
            if (item[i].flag != EMPTY) list.raw(unit_json(i));
        return list.str();
    }
    // Slots named are shown whether they are occupied or not, so that a destroyed unit shows as empty.
    for (const std::string& slot : slots)
        list.raw(unit_json(static_cast<int>(parse_int(slot, 0, NUM_UNITS - 1, "unit slot"))));
    return list.str();
}

std::string shots_json() {
    JsonArray list;
    for (int i = 0; i < NUM_SHOTS; i++) {
        const icbm& s = shot[i];
        if (s.flag == 0) continue;
        list.raw(JsonObject()
                     .number("slot", i)
                     .number("curx", s.track.curx)
                     .number("cury", s.track.cury)
                     .number("curz", s.track.curz)
                     .number("xdest", s.xdest)
                     .number("ydest", s.ydest)
                     .number("size", s.size)
                     .str());
    }
    return list.str();
}

void set_global(const std::vector<std::string>& args) {
    if (args.empty()) throw ScriptError{"usage: set NAME VALUE..."};
    const std::string& name = args[0];
    for (const Global& g : kGlobals) {
        if (!g.name || name != g.name) continue;
        switch (g.kind) {
            case Kind::U8:
                expect_count(args, 2, "set " + name + " VALUE");
                *static_cast<uint8_t*>(g.where()) = static_cast<uint8_t>(parse_int(args[1], 0, g.max, g.name));
                return;
            case Kind::U16:
                expect_count(args, 2, "set " + name + " VALUE");
                *static_cast<uint16_t*>(g.where()) = static_cast<uint16_t>(parse_int(args[1], 0, g.max, g.name));
                return;
            case Kind::Bool:
                expect_count(args, 2, "set " + name + " true|false");
                *static_cast<bool*>(g.where()) = parse_bool(args[1], g.name);
                return;
            case Kind::Bool4: {
                expect_count(args, 5, "set " + name + " B0 B1 B2 B3");
                bool values[NUM_SIDES];
                for (int i = 0; i < NUM_SIDES; i++) values[i] = parse_bool(args[1 + i], g.name);
                std::memcpy(g.where(), values, sizeof values);
                return;
            }
            case Kind::U32x4: {
                expect_count(args, 5, "set " + name + " V0 V1 V2 V3");
                uint32_t values[NUM_SIDES];
                for (int i = 0; i < NUM_SIDES; i++)
                    values[i] = static_cast<uint32_t>(parse_int(args[1 + i], 0, g.max, g.name));
                std::memcpy(g.where(), values, sizeof values);
                return;
            }
            case Kind::Maps: throw ScriptError{"maps cannot be set"};
            case Kind::Other: break;
            case Kind::Text: {
                // The rest of the line, words joined by single blanks; nothing after the name clears it.
                std::string text = join_words(args, 1);
                if (text.size() >= static_cast<size_t>(g.max))
                    throw ScriptError{name + " holds at most " + std::to_string(g.max - 1) + " characters"};
                std::memset(g.where(), 0, static_cast<size_t>(g.max));
                std::memcpy(g.where(), text.data(), text.size());
                return;
            }
        }
    }
    throw ScriptError{"no such global: " + name};
}

void set_unit(const std::vector<std::string>& args) {
    if (args.size() < 3) throw ScriptError{"usage: set unit SLOT FIELD VALUE"};
    weapon& u = item[parse_int(args[0], 0, NUM_UNITS - 1, "unit slot")];
    const std::string& field = args[1];
    if (field == "name") {
        set_name(u.name, join_words(args, 2));
        return;
    }
    expect_count(args, 3, "set unit SLOT " + field + " VALUE");
    const std::string& v = args[2];
    const char* what = field.c_str();
    if (field == "flag") u.flag = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "side") u.side = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "x") u.x = static_cast<uint16_t>(parse_int(v, 0, 65535, what));
    else if (field == "y") u.y = static_cast<uint16_t>(parse_int(v, 0, 65535, what));
    else if (field == "ammo") u.ammo = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "fact1") u.fact1 = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "fact2") u.fact2 = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "supplied") u.supplied = parse_bool(v, what);
    else if (field == "greynow") u.greynow = parse_bool(v, what);
    else if (field == "old_power") u.old_power = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "old_bearing") u.old_bearing = static_cast<uint16_t>(parse_int(v, 0, 65535, what));
    else throw ScriptError{"no such unit field: " + field};
}

void set_shot(const std::vector<std::string>& args) {
    if (args.size() < 3) throw ScriptError{"usage: set shot SLOT FIELD VALUE..."};
    icbm& s = shot[parse_int(args[0], 0, NUM_SHOTS - 1, "shot slot")];
    const std::string& field = args[1];
    const char* what = field.c_str();
    if (field == "track") {
        expect_count(args, 8, "set shot SLOT track X1 Y1 Z1 X2 Y2 Z2");
        uint16_t v[6];
        for (int i = 0; i < 6; i++) v[i] = static_cast<uint16_t>(parse_int(args[2 + i], 0, 32767, "track coordinate"));
        s.track.init_motion(v[0], v[1], v[2], v[3], v[4], v[5]);
        return;
    }
    expect_count(args, 3, "set shot SLOT " + field + " VALUE");
    const std::string& v = args[2];
    if (field == "flag") s.flag = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "xdest") s.xdest = static_cast<int16_t>(parse_int(v, -32768, 32767, what));
    else if (field == "ydest") s.ydest = static_cast<int16_t>(parse_int(v, -32768, 32767, what));
    else if (field == "size") s.size = static_cast<uint8_t>(parse_int(v, 0, 255, what));
    else if (field == "trail") {
        auto x = static_cast<int16_t>(parse_int(v, -32768, 32767, what));
        for (int16_t& entry : s.xco) entry = x;
    } else {
        throw ScriptError{"no such shot field: " + field};
    }
}

}  // namespace sim
