// The title screen: the options of a game, the player boxes and the start control.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"

namespace {

constexpr int kArrow = 25;
constexpr int kNameLength = 31;

// The buttons at x 420 are drawn as narrow as they answer, from cells of their own on the sheet.
constexpr int kNarrowArrow = 16;
constexpr int kNarrowSheetX = 80;

// Copies a raised (row 50) or pressed (row 75) arrow button b from the sprite sheet; the even ones
// lower their option, the odd ones raise it.
void draw_arrow(int b, bool pressed) {
    const Rect& button = TITLE_ARROWS[b];
    bool narrow = button.width() == kNarrowArrow;
    int sx = narrow ? kNarrowSheetX : (b % 2 ? 25 : 0);
    plat::select_bitmap(MapDC, hPanelgfx);
    plat::blit(WinDC, button.x0, button.y0, narrow ? kNarrowArrow : kArrow, kArrow, MapDC, sx, pressed ? 75 : 50,
               plat::SRCCOPY);
}

// Applies the change of button b if its limit allows it.
bool change_option(int b) {
    switch (b) {
        case 0: return cur_map > 0 && (cur_map--, true);
        case 1: return num_maps > 0 && cur_map < num_maps - 1 && (cur_map++, true);
        case 2: return num_city > 1 && (num_city--, true);
        case 3: return num_city < MAX_CITY && (num_city++, true);
        case 4: return num_sub > 0 && (num_sub--, true);
        case 5: return num_sub < MAX_SUB && (num_sub++, true);
        case 6:
            if (num_silo == 0) return false;
            num_silo = static_cast<uint8_t>(num_silo - 2);
            num_factory--;
            return true;
        case 7:
            if (num_silo >= MAX_SILO) return false;
            num_silo = static_cast<uint8_t>(num_silo + 2);
            num_factory++;
            return true;
        case 8: return cpu_skill > 0 && (cpu_skill = static_cast<uint16_t>(cpu_skill - 5), true);
        case 9: return cpu_skill < MAX_SKILL && (cpu_skill = static_cast<uint16_t>(cpu_skill + 5), true);
        default: return false;
    }
}

void copy_sprite(int sx, int sy, int x, int y) {
    plat::select_bitmap(MapDC, hPanelgfx);
    plat::blit(WinDC, x, y, kArrow, kArrow, MapDC, sx, sy, plat::SRCCOPY);
}

void click_arrows(uint16_t x, uint16_t y) {
    for (int b = 0; b < 10; b++) {
        if (!TITLE_ARROWS[b].contains(x, y) || !change_option(b)) continue;
        PlayResource("SFXClick");
        draw_arrow(b, true);
    }
}

void click_player_box(uint16_t x) {
    int k = (x - PLAYER_BOX_X) / PLAYER_BOX_PITCH;
    if (k < 2) {
        cpu_player[k] = !cpu_player[k];
    } else if (cpu_player[k] && k + 1 == num_players) {
        num_players--;
    } else if (cpu_player[k] && k == num_players) {
        num_players++;
        cpu_player[k] = false;
    } else {
        cpu_player[k] = !cpu_player[k];
    }
    PlayResource("SFXClick");
}

// Two characters of "%02d": the limits keep every value below 100.
void print2(uint16_t x, uint16_t y, int value) {
    char text[12];
    std::snprintf(text, sizeof text, "%02d", value);
    blittext(x, y, text, 2);
}

// A started game swells in; a refused map leaves the title screen with the reason on its line.
void start_or_refuse() {
    std::string why;
    if (startgame(&why)) {
        savesettings();
        PlayResource("SFXAppearing");
        showcaption("placing units");
        return;
    }
    std::snprintf(title_message, sizeof title_message, "%s", why.c_str());
    titleinfo();
}

}  // namespace

void starttitle() {
    plat::select_bitmap(MapDC, hTitlegfx);
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
    cpu_timer = 0;
    timer_mode = MODE_TITLE;
    titleinfo();
    blankicons2();
    showcaption(nullptr);
}

void clicktitle(uint16_t x, uint16_t y) {
    // A refusal or a game's result stays on screen until the next click.
    title_message[0] = 0;
    title_news[0] = 0;
    click_arrows(x, y);
    if (PLAYER_BOXES_LEFT.contains(x, y) || PLAYER_BOXES_RIGHT.contains(x, y)) click_player_box(x);
    titleinfo();
    if (START_BUTTON.contains(x, y)) {
        PlayResource("SFXClick");
        if (num_sub > 0 || num_silo > 0) {
            start_or_refuse();
        } else {
            titlenews("NO SILOS OR SUBMARINES");
        }
    }
}

void titlenews(const std::string& line) {
    std::snprintf(title_news, sizeof title_news, "%s", line.c_str());
    if (timer_mode == MODE_TITLE) titleinfo();
}

void mapsadded() {
    std::string chosen = num_maps > 0 && cur_map < num_maps ? filelist[cur_map].letter : "";
    loadmaps();
    cur_map = 0;
    for (int i = 0; i < num_maps; i++)
        if (chosen == filelist[i].letter) cur_map = static_cast<uint8_t>(i);
    if (timer_mode == MODE_TITLE) titleinfo();
}

void titleinfo() {
    char line[kNameLength + 1];
    std::memset(line, ' ', kNameLength);
    line[kNameLength] = 0;
    const char* text = title_message[0]  ? title_message
                       : title_news[0] ? title_news
                       : num_maps > 0    ? filelist[cur_map].letter
                                         : "NO MAPS FOUND";
    // Online, the room and the colour played here come first.
    std::string shown = online_label[0] ? std::string(online_label) + " " + text : std::string(text);
    // A longer name shows its first 31 characters.
    std::memcpy(line, shown.c_str(), std::min(shown.size(), static_cast<size_t>(kNameLength)));
    blittext(190, 200, line, kNameLength);
    for (size_t i = 0; i < std::strlen(online_label) && i < kNameLength; i++)
        if (online_label[i] == '-') blitdash(static_cast<uint16_t>(190 + GLYPH_WIDTH * i), 200);
    print2(243, 245, num_city);
    print2(243, 290, num_sub);
    print2(398, 245, num_silo);
    print2(398, 290, cpu_skill);
    for (int i = 0; i < NUM_SIDES; i++) {
        Rect box = player_box(i);
        if (i < num_players) {
            copy_sprite(25 * i, cpu_player[i] ? 425 : 400, box.x0, box.y0);
        } else {
            copy_sprite(0, 375, box.x0, box.y0);
        }
    }
}

void blankicons2() {
    for (int b = 0; b < 10; b++) draw_arrow(b, false);
}
