// The player's settings: the title screen's options and fast play, written when a game starts and
// read at the next start-up, and the front end's own switches (the sound and the window's palette),
// each written when it is turned. The settings file's path, which the front end chooses, is the
// running game's (platform/context.h).
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "init/init.h"
#include "model/globals.h"
#include "platform/context.h"
#include "platform/files.h"
#include "platform/sound.h"

namespace {

bool g_colourblind = false;

// Empty: no settings are read or written.
const std::string& settings_path() { return plat::game_context().settings_path; }

// A settings file is a few short lines; anything larger is not one.
constexpr size_t kMaxSettingsFile = 4096;

struct Settings {
    std::string map;
    int cities = -1, silos = -1, submarines = -1, skill = -1, players = -1, fast = -1;
    int computer[NUM_SIDES] = {-1, -1, -1, -1};
    int sound = -1, palette = -1;  // the front end's own, kept apart from the options
};

bool read_number(std::istringstream& words, int lo, int hi, int* value) {
    std::string word;
    if (!(words >> word) || word.empty() || word.size() > 3) return false;
    int v = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    *value = v;
    return true;
}

// One "key value" line; false when the line is malformed. Keys this version does not know are
// passed over, so that a newer version's file still gives what it can.
bool parse_line(const std::string& line, Settings* s) {
    std::istringstream words(line);
    std::string key;
    if (!(words >> key) || key[0] == '#') return true;
    bool ok = true;
    if (key == "map") {
        std::getline(words >> std::ws, s->map);
        ok = !s->map.empty() && s->map.size() < MAP_NAME_SIZE;
    } else if (key == "cities") {
        ok = read_number(words, 1, MAX_CITY, &s->cities);
    } else if (key == "silos") {
        ok = read_number(words, 0, MAX_SILO, &s->silos) && s->silos % 2 == 0;
    } else if (key == "submarines") {
        ok = read_number(words, 0, MAX_SUB, &s->submarines);
    } else if (key == "skill") {
        ok = read_number(words, 0, MAX_SKILL, &s->skill) && s->skill % 5 == 0;
    } else if (key == "players") {
        ok = read_number(words, 2, NUM_SIDES, &s->players);
    } else if (key == "computer") {
        for (int& flag : s->computer) ok = ok && read_number(words, 0, 1, &flag);
    } else if (key == "fast") {
        ok = read_number(words, 0, 1, &s->fast);
    } else if (key == "sound") {
        ok = read_number(words, 0, 1, &s->sound);
    } else if (key == "palette") {
        ok = read_number(words, 0, 1, &s->palette);
    } else {
        return true;
    }
    std::string rest;
    return ok && !(words >> rest);
}

bool any_option(const Settings& s) {
    bool any = !s.map.empty() || s.cities >= 0 || s.silos >= 0 || s.submarines >= 0 || s.skill >= 0 || s.players >= 0 ||
               s.fast >= 0;
    for (int flag : s.computer) any = any || flag >= 0;
    return any;
}

bool complete(const Settings& s) {
    bool all = !s.map.empty() && s.cities >= 0 && s.silos >= 0 && s.submarines >= 0 && s.skill >= 0 &&
               s.players >= 0 && s.fast >= 0;
    for (int flag : s.computer) all = all && flag >= 0;
    return all;
}

void apply(const Settings& s) {
    // A map that is no longer there leaves the choice on the first one.
    cur_map = 0;
    for (int i = 0; i < num_maps; i++) {
        if (strncasecmp(filelist[i].letter, s.map.c_str(), MAP_NAME_SIZE) == 0) {
            cur_map = static_cast<uint8_t>(i);
            if (std::strncmp(filelist[i].letter, s.map.c_str(), MAP_NAME_SIZE) == 0) break;
        }
    }
    num_city = static_cast<uint8_t>(s.cities);
    num_silo = static_cast<uint8_t>(s.silos);
    num_factory = static_cast<uint8_t>(s.silos / 2);
    num_sub = static_cast<uint8_t>(s.submarines);
    cpu_skill = static_cast<uint16_t>(s.skill);
    num_players = static_cast<uint8_t>(s.players);
    for (int i = 0; i < NUM_SIDES; i++) cpu_player[i] = s.computer[i] == 1;
    fastplay = s.fast == 1;
}

std::string switch_line(const char* key, bool on) { return std::string(key) + (on ? " 1\n" : " 0\n"); }
std::string sound_line() { return switch_line("sound", plat::sound_is_on()); }
std::string palette_line() { return switch_line("palette", g_colourblind); }

void write_settings(const std::string& text) {
    std::string error;
    if (!plat::write_file(settings_path(), text, &error))
        std::fprintf(stderr, "vantor: cannot save the settings in %s (%s)\n", settings_path().c_str(), error.c_str());
}

}  // namespace

void settingsfile(const std::string& path) { plat::game_context().settings_path = path; }

void loadsettings() {
    if (settings_path().empty()) return;
    std::vector<unsigned char> bytes;
    plat::ReadStatus status = plat::read_file(settings_path(), kMaxSettingsFile, &bytes);
    if (status == plat::ReadStatus::Missing) return;
    Settings s;
    bool ok = status == plat::ReadStatus::Ok;
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (ok && std::getline(lines, line)) ok = parse_line(line, &s);
    if (ok && s.sound >= 0) plat::sound_switch(s.sound == 1);
    if (ok && s.palette >= 0) g_colourblind = s.palette == 1;
    // A switch may be turned before any game was started: then the switches are the whole file.
    bool switches_only = (s.sound >= 0 || s.palette >= 0) && !any_option(s);
    if (!ok || (!complete(s) && !switches_only)) {
        std::fprintf(stderr, "vantor: the settings in %s cannot be read; the defaults are used\n", settings_path().c_str());
        return;
    }
    if (!switches_only) apply(s);
}

void savesettings() {
    if (settings_path().empty()) return;
    std::string text = "# Vantor's settings, written when a game starts.\n";
    text += std::string("map ") + (num_maps > 0 && cur_map < num_maps ? filelist[cur_map].letter : "") + "\n";
    text += "cities " + std::to_string(num_city) + "\n";
    text += "silos " + std::to_string(num_silo) + "\n";
    text += "submarines " + std::to_string(num_sub) + "\n";
    text += "skill " + std::to_string(cpu_skill) + "\n";
    text += "players " + std::to_string(num_players) + "\n";
    text += "computer";
    for (bool cpu : cpu_player) text += cpu ? " 1" : " 0";
    text += "\nfast " + std::string(fastplay ? "1" : "0") + "\n";
    text += sound_line() + palette_line();
    write_settings(text);
}

namespace {

// Rewrites one switch's line; the other lines stay as the last game started left them, and a file
// that cannot be read is not one.
void saveswitch(const char* name, const std::string& line_now) {
    if (settings_path().empty()) return;
    std::vector<unsigned char> bytes;
    std::string text;
    if (plat::read_file(settings_path(), kMaxSettingsFile, &bytes) == plat::ReadStatus::Ok) {
        std::istringstream lines(std::string(bytes.begin(), bytes.end()));
        std::string line, key;
        while (std::getline(lines, line)) {
            std::istringstream words(line);
            if (!(words >> key) || key != name) text += line + "\n";
        }
    }
    write_settings(text + line_now);
}

}  // namespace

void savesound() { saveswitch("sound", sound_line()); }

bool colourblind() { return g_colourblind; }

void savecolourblind(bool on) {
    g_colourblind = on;
    saveswitch("palette", palette_line());
}
