// Maps: the list of map pairs in the working directory and built into the game, and the start of
// a game on the chosen pair, which is checked before anything of it is kept.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "platform/bmp.h"
#include "platform/files.h"
#include "platform/resources.h"

namespace {

// The built-in maps, World first so that it is the default when the directory holds none.
const char* const kBuiltinOrder[] = {"World"};

void add_map(const std::string& base, bool builtin) {
    if (num_maps >= MAX_MAPS) return;
    for (int i = 0; i < num_maps; i++)
        if (strcasecmp(filelist[i].letter, base.c_str()) == 0 && builtin) return;
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
        if (plat::find_resource("MAP", (base + ".map").c_str()) && plat::find_resource("MAP", tac.c_str()))
            add_map(base, true);
    }
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A file of that name in the working directory, matching the case of the name if it can.
std::string find_file(const std::string& name) {
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        std::fclose(f);
        return name;
    }
    std::vector<std::string> names;
    std::string error;
    if (plat::list_files(name.c_str(), &names, &error)) {
        for (const std::string& n : names)
            if (strcasecmp(n.c_str(), name.c_str()) == 0) return n;
    }
    return name;
}

// Loads one picture of the pair; on failure says why in *why, in the words the title screen shows.
plat::Bitmap* load_picture(const std::string& file, bool builtin, std::string* why) {
    std::string error;
    plat::Bitmap* bitmap = nullptr;
    if (builtin) {
        const plat::Resource* res = plat::find_resource("MAP", file.c_str());
        if (res) bitmap = plat::decode_bmp(res->data, res->size, &error);
    } else {
        std::string path = find_file(file);
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            std::fclose(f);
            bitmap = plat::load_bmp_file(path.c_str(), &error);
            if (!bitmap) *why = upper(file) + " NOT A MAP PICTURE";
        } else {
            *why = upper(file) + " MISSING";
            return nullptr;
        }
    }
    if (!bitmap) {
        if (why->empty()) *why = upper(file) + " MISSING";
        return nullptr;
    }
    if (bitmap->width != MAP_WIDTH || bitmap->height != MAP_HEIGHT) {
        *why = upper(file) + " NOT 600 X 400";
        plat::delete_bitmap(bitmap);
        return nullptr;
    }
    return bitmap;
}

// Whether a colour occurs among the pixels that placement samples.
bool sampled_colour(const plat::Bitmap* tac, uint32_t colour) {
    for (int y = 4; y <= 364; y++)
        for (int x = 4; x <= 584; x++)
            if (tac->pixels[static_cast<size_t>(y) * tac->width + x] == colour) return true;
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

// Placement looks for these colours until it finds them: each side needs one of its two, and
// submarines need the sea.
bool territories_present(const plat::Bitmap* tac, std::string* why) {
    for (int b = 0; b < num_players; b++) {
        uint32_t col1 = startcols[b];
        uint32_t col2 = num_players <= 2 ? startcols[b + 2] : startcols[b];
        if (!sampled_colour(tac, col1) && !sampled_colour(tac, col2)) {
            *why = std::string("NO ") + colour_word(col1) + " LAND ON THIS MAP";
            return false;
        }
    }
    if (num_sub > 0 && !sampled_colour(tac, SEA)) {
        *why = "NO SEA FOR SUBMARINES";
        return false;
    }
    return true;
}

void refuse(const std::string& why) {
    std::snprintf(title_message, sizeof title_message, "%s", why.c_str());
    std::fprintf(stderr, "vantor: map %s refused: %s\n", filelist[cur_map].letter, why.c_str());
    titleinfo();
}

}  // namespace

void loadmaps() {
    num_maps = 0;
    std::vector<std::string> files;
    std::string error;
    if (!plat::list_files(".map", &files, &error))
        std::fprintf(stderr, "vantor: cannot list the maps in this directory (%s); built-in maps only\n",
                     error.c_str());
    for (const std::string& file : files) add_map(base_name(file), false);
    list_builtin_maps();
}

void startgame() {
    if (num_maps == 0 || cur_map >= num_maps) {
        refuse("NO MAP TO PLAY ON");
        return;
    }
    std::string base = filelist[cur_map].letter;
    bool builtin = map_builtin[cur_map];
    std::string why;
    plat::Bitmap* mainmap = load_picture(base + ".map", builtin, &why);
    plat::Bitmap* tacmap = mainmap ? load_picture(base + ".tac", builtin, &why) : nullptr;
    if (tacmap) {
        shuffle();
        if (!territories_present(tacmap, &why)) {
            plat::delete_bitmap(tacmap);
            tacmap = nullptr;
        }
    }
    if (!tacmap) {
        plat::delete_bitmap(mainmap);
        refuse(why);
        return;
    }
    releasemap();
    hMainmap = mainmap;
    hTacticalmap = tacmap;
    cursor_on = false;
    plat::select_bitmap(MapDC, hMainmap);
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    plat::select_bitmap(TactDC, hTacticalmap);
    FullDC = plat::create_surface();
    hFullimage = plat::create_bitmap(MAP_WIDTH, MAP_HEIGHT);
    plat::select_bitmap(FullDC, hFullimage);
    plat::blit(FullDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    PlayResource("SFXAppearing");
    justaborted = false;
    timer_mode = MODE_PLACING;
}

void releasemap() {
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
