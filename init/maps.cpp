// Maps: the list of map pairs in the working directory and built into the game, and the start of
// a game on the chosen pair, which is checked before anything of it is kept.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "init/init.h"
#include "model/globals.h"
#include "model/layout.h"
#include "platform/bmp.h"
#include "platform/files.h"
#include "platform/resources.h"

namespace {

// The built-in maps, World first so that it is the default when the directory holds none.
const char* const kBuiltinOrder[] = {"World"};

// A map picture is 600 x 400 at 32 bits at most, plus headers; a larger file cannot be one.
constexpr size_t kMaxMapFile = 4u * 1024 * 1024;

// A refusal must fit the title screen's message line.
constexpr size_t kMessageLength = sizeof title_message - 1;

void add_map(const std::string& base, bool builtin) {
    if (num_maps >= MAX_MAPS) return;
    for (int i = 0; i < num_maps; i++)
        if (builtin && strncasecmp(filelist[i].letter, base.c_str(), MAP_NAME_SIZE - 1) == 0) return;
    filename& entry = filelist[num_maps];
    std::memset(entry.letter, 0, sizeof entry.letter);
    std::strncpy(entry.letter, base.c_str(), MAP_NAME_SIZE - 1);
    map_builtin[num_maps] = builtin;
    num_maps++;
}

std::string base_name(const std::string& file) { return file.substr(0, file.find('.')); }

void list_builtin_maps() {
    std::vector<std::string> names;
    for (const char* name : kBuiltinOrder) names.emplace_back(name);
    size_t count = 0;
    const plat::Resource* table = plat::resource_table(&count);
    for (size_t i = 0; i < count; i++) {
        std::string file = table[i].name;
        if (std::strcmp(table[i].type, "MAP") != 0 || file.size() < 4) continue;
        if (strcasecmp(file.c_str() + file.size() - 4, ".map") != 0) continue;
        std::string base = base_name(file);
        bool known = false;
        for (const std::string& n : names) known = known || n == base;
        if (!known) names.push_back(base);
    }
    for (const std::string& base : names) {
        std::string tac = base + ".tac";
        if (plat::has_resource("MAP", (base + ".map").c_str()) && plat::has_resource("MAP", tac.c_str()))
            add_map(base, true);
    }
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "WORLD.TAC MISSING"; a name too long for the line gives way to "TAC FILE MISSING".
std::string file_problem(const std::string& base, const char* ext, const char* problem) {
    std::string line = upper(base + "." + ext) + " " + problem;
    if (line.size() <= kMessageLength) return line;
    return upper(ext) + " FILE " + problem;
}

// Decodes one picture of the pair and checks its size.
plat::Bitmap* decode_picture(const std::string& base, const char* ext, const void* data, size_t size,
                             std::string* why) {
    if (size == 0) {
        *why = file_problem(base, ext, "IS EMPTY");
        return nullptr;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (size < 2 || bytes[0] != 'B' || bytes[1] != 'M') {
        *why = file_problem(base, ext, "IS NOT A BMP");
        return nullptr;
    }
    plat::Bitmap* bitmap = plat::decode_bmp(data, size);
    if (!bitmap) {
        *why = file_problem(base, ext, "IS DAMAGED");
        return nullptr;
    }
    if (bitmap->width != MAP_WIDTH || bitmap->height != MAP_HEIGHT) {
        *why = file_problem(base, ext, "IS NOT 600 X 400");
        plat::delete_bitmap(bitmap);
        return nullptr;
    }
    return bitmap;
}

// Whether a colour occurs among the pixels that placement samples: the icon centres.
bool sampled_colour(const plat::Bitmap* tac, uint32_t colour) {
    for (int y = ICON_CENTRE; y <= PLACE_Y_MAX + ICON_CENTRE; y++) {
        const plat::Colour* row = tac->pixels.data() + static_cast<size_t>(y) * tac->width;
        for (int x = ICON_CENTRE; x <= PLACE_X_MAX + ICON_CENTRE; x++)
            if (row[x] == colour) return true;
    }
    return false;
}

const char* colour_word(uint32_t colour) {
    switch (colour) {
        case RED: return "RED";
        case BLUE: return "BLUE";
        case YELLOW: return "YELLOW";
        default: return "GREEN";
    }
}

// Placement draws positions until it finds a side's colour, so every colour it may look for has to be
// there, whatever shuffle deals. With three or four sides any of the four colours may be dealt to a side
// in the game. With two, each side owns two colours and needs one of them: every pairing gives each
// side a colour that is present exactly when at most one colour is missing. Submarines need the sea.
bool territories_present(const plat::Bitmap* tac, std::string* why) {
    int missing = 0;
    const char* first_missing = nullptr;
    for (uint32_t colour : {RED, BLUE, YELLOW, GREEN}) {
        if (sampled_colour(tac, colour)) continue;
        missing++;
        if (!first_missing) first_missing = colour_word(colour);
    }
    if (num_players >= 3 && missing > 0) {
        *why = std::string("NO ") + first_missing + " LAND ON THIS MAP";
        return false;
    }
    if (missing > 1) {
        *why = "TOO FEW LANDS FOR 2 PLAYERS";
        return false;
    }
    if (num_sub > 0 && !sampled_colour(tac, SEA)) {
        *why = "NO SEA FOR SUBMARINES";
        return false;
    }
    return true;
}

// The bytes of one file of the pair: in the program for a built-in map, else read from the directory.
struct PictureBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
    std::vector<unsigned char> file;
};

bool read_picture(const std::string& base, const char* ext, bool builtin, PictureBytes* bytes, std::string* why) {
    std::string name = base + "." + ext;
    if (builtin) {
        const plat::Resource* res = plat::find_resource("MAP", name.c_str());
        if (!res) {
            *why = file_problem(base, ext, "MISSING");
            return false;
        }
        bytes->data = res->data;
        bytes->size = res->size;
        return true;
    }
    switch (plat::read_file(plat::match_file_name(name), kMaxMapFile, &bytes->file)) {
        case plat::ReadStatus::Ok:
            bytes->data = bytes->file.data();
            bytes->size = bytes->file.size();
            return true;
        case plat::ReadStatus::Missing: *why = file_problem(base, ext, "MISSING"); break;
        case plat::ReadStatus::Directory: *why = file_problem(base, ext, "IS A FOLDER"); break;
        case plat::ReadStatus::TooLarge: *why = file_problem(base, ext, "IS TOO LARGE"); break;
        case plat::ReadStatus::Unreadable: *why = file_problem(base, ext, "CANNOT BE READ"); break;
    }
    return false;
}

bool refuse(const std::string& reason, std::string* why) {
    *why = reason;
    std::fprintf(stderr, "vantor: map %s refused: %s\n", num_maps ? filelist[cur_map].letter : "", reason.c_str());
    return false;
}

}  // namespace

bool decodemappair(const char* name, const void* map, size_t map_size, const void* tac, size_t tac_size,
                   plat::Bitmap** mainmap, plat::Bitmap** tacmap, std::string* why) {
    *mainmap = *tacmap = nullptr;
    // A built-in file's bytes need not stay in memory once decoded, so each goes back before the next.
    plat::Bitmap* shown = decode_picture(name, "map", map, map_size, why);
    plat::release_resource_pages(map, map_size);
    if (!shown) return false;
    plat::Bitmap* territory = decode_picture(name, "tac", tac, tac_size, why);
    plat::release_resource_pages(tac, tac_size);
    if (!territory || !territories_present(territory, why)) {
        plat::delete_bitmap(territory);
        plat::delete_bitmap(shown);
        return false;
    }
    *mainmap = shown;
    *tacmap = territory;
    return true;
}

void loadmaps() {
    num_maps = 0;
    std::vector<std::string> files;
    std::string error;
    if (!plat::list_files(".map", &files, &error))
        std::fprintf(stderr, "vantor: cannot list the maps in this directory (%s); built-in maps only\n",
                     error.c_str());
    for (const std::string& file : files) {
        // A hidden file named ".map" would list under an empty name.
        std::string base = base_name(file);
        if (!base.empty()) add_map(base, false);
    }
    list_builtin_maps();
}

namespace {

// A built-in pair never changes and no one draws on it: it is decoded once for the process and shared
// by every game on every thread. The check against the next game's options is each game's own.
bool shared_builtin_pair(const std::string& base, plat::Bitmap** mainmap, plat::Bitmap** tacmap, std::string* why) {
    static std::mutex lock;
    // Never destroyed: games may close after the statics are gone.
    static auto* decoded = new std::map<std::string, std::pair<plat::Bitmap*, plat::Bitmap*>>;
    std::lock_guard<std::mutex> hold(lock);
    auto& [shown, territory] = (*decoded)[base];
    if (!shown) {
        PictureBytes map, tac;
        if (!read_picture(base, "map", true, &map, why) || !read_picture(base, "tac", true, &tac, why)) return false;
        plat::Bitmap* m = decode_picture(base, "map", map.data, map.size, why);
        plat::release_resource_pages(map.data, map.size);
        if (!m) return false;
        plat::Bitmap* t = decode_picture(base, "tac", tac.data, tac.size, why);
        plat::release_resource_pages(tac.data, tac.size);
        if (!t) {
            plat::delete_bitmap(m);
            return false;
        }
        // The process keeps one hold of its own, for the next game.
        shown = m, territory = t;
    }
    if (!territories_present(territory, why)) return false;
    *mainmap = plat::share_bitmap(shown);
    *tacmap = plat::share_bitmap(territory);
    return true;
}

}  // namespace

bool readmappair(const char* name, bool builtin, plat::Bitmap** mainmap, plat::Bitmap** tacmap, std::string* why) {
    *mainmap = *tacmap = nullptr;
    std::string base = name;
    if (builtin) return shared_builtin_pair(base, mainmap, tacmap, why);
    PictureBytes map, tac;
    return read_picture(base, "map", builtin, &map, why) && read_picture(base, "tac", builtin, &tac, why) &&
           decodemappair(name, map.data, map.size, tac.data, tac.size, mainmap, tacmap, why);
}

bool startgame(std::string* why) {
    if (num_maps == 0 || cur_map >= num_maps) return refuse("NO MAP TO PLAY ON", why);
    // Both files are read and checked before anything of the running title screen changes.
    std::string reason;
    plat::Bitmap* mainmap = nullptr;
    plat::Bitmap* tacmap = nullptr;
    if (!readmappair(filelist[cur_map].letter, map_builtin[cur_map], &mainmap, &tacmap, &reason))
        return refuse(reason, why);
    releasemap();
    loaded_map = filelist[cur_map];
    loaded_builtin = map_builtin[cur_map];
    hMainmap = mainmap;
    hTacticalmap = tacmap;
    cursor_on = false;
    plat::select_bitmap(MapDC, hMainmap);
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    plat::select_bitmap(TactDC, hTacticalmap);
    FullDC = plat::create_surface();
    // A server's game keeps of the map with its icons only the tiles the icons are drawn on.
    hFullimage = plat::layered_pictures() ? plat::create_layered(hMainmap) : nullptr;
    if (!hFullimage) hFullimage = plat::create_bitmap(MAP_WIDTH, MAP_HEIGHT);
    plat::select_bitmap(FullDC, hFullimage);
    plat::blit(FullDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    shuffle();
    justaborted = false;
    timer_mode = MODE_PLACING;
    return true;
}

void releasemap() {
    loaded_map = filename{};
    loaded_builtin = false;
    if (MapDC && MapDC->bitmap == hMainmap) plat::select_bitmap(MapDC, nullptr);
    plat::delete_bitmap(hMainmap);
    hMainmap = nullptr;
    plat::select_bitmap(TactDC, nullptr);
    plat::delete_bitmap(hTacticalmap);
    hTacticalmap = nullptr;
    plat::delete_surface(FullDC);
    FullDC = nullptr;
    plat::delete_bitmap(hFullimage);
    hFullimage = nullptr;
}
