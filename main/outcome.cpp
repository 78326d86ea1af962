// What the players are told: the window caption (whose turn it is, who went out and why, who won)
// and the title screen's line after a game. Only words: nothing here changes the game.
#include <cctype>
#include <cstdio>
#include <string>

#include "main/main.h"
#include "model/globals.h"
#include "platform/sound.h"

namespace {

const char* const kSideNames[NUM_SIDES] = {"Red", "Blue", "Yellow", "Green"};

// Online, the caption names the room and the colour played here (or that this window watches), says
// when it is this window's turn, and on the title screen gives the creator's invitation; in a replay,
// it says so and names the game. With the sound switched off it says so last, on every screen.
void set_caption(const std::string& given) {
    std::string text = plat::sound_is_on() ? given : given + " - sound off";
    if (replay_label[0]) {
        std::string rest = text.size() > 6 ? text.substr(6) : std::string();  // after "Vantor"
        plat::set_window_caption(hwnd, ("Vantor - replay of " + std::string(replay_label) + rest).c_str());
        return;
    }
    if (!online_label[0]) {
        plat::set_window_caption(hwnd, text.c_str());
        return;
    }
    std::string online = std::string("Vantor (room ") + online_label + ")";
    std::string rest = text.size() > 6 ? text.substr(6) : std::string();  // after "Vantor"
    if (timer_mode == MODE_PLAYING && online_side == cur_player && !cpu_player[cur_player])
        rest = " - your turn" + rest;
    if (online_note[0]) online += std::string(" - ") + online_note;
    online += rest;
    if (invite_link[0] && timer_mode == MODE_TITLE)
        online += std::string(" - invite ") + invite_link + " (Ctrl+C copies)";
    plat::set_window_caption(hwnd, online.c_str());
}

std::string with_news(std::string text) {
    if (caption_news[0]) text += std::string(" - ") + caption_news;
    // A replay keeps its recorded pace: F does nothing there.
    if (fastplay && timer_mode == MODE_PLAYING && !replay_label[0]) text += " - fast play (F)";
    return text;
}

// The outcome of the game just over, in the caption's words: "Green wins", "no side left", "game aborted".
std::string result() {
    if (justaborted) return "game aborted";
    for (int b = 0; b < num_players && b < NUM_SIDES; b++)
        if (alive[b]) return std::string(kSideNames[b]) + " wins";
    return "no side left";
}

}  // namespace

const char* sidename(uint8_t side) { return side < NUM_SIDES ? kSideNames[side] : "Grey"; }

void showcaption(const char* what) { set_caption(what && what[0] ? std::string("Vantor - ") + what : "Vantor"); }

void noteout(uint8_t side, uint8_t why) {
    const char* cause = why == OUT_CAPITAL_DESTROYED ? "capital destroyed"
                        : why == OUT_CAPITAL_DESPAIR ? "capital in despair"
                                                     : "no missiles left";
    // Eliminations since the last launch are told together: one impact can end several sides.
    std::string news = caption_news[0] ? std::string(caption_news) + "; " : std::string();
    news += std::string(sidename(side)) + " out, " + cause;
    std::snprintf(caption_news, sizeof caption_news, "%s", news.c_str());
    showturn();
}

void clearnews() { caption_news[0] = 0; }

void showturn() {
    if (timer_mode == MODE_GAMEOVER) {
        showresult();
        return;
    }
    std::string turn = std::string("Vantor - ") + sidename(cur_player);
    if (cpu_player[cur_player]) turn += " (computer)";
    set_caption(with_news(turn + " to fire"));
}

void refreshcaption() {
    if (timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER) showturn();
    else if (timer_mode == MODE_PLACING) showcaption("placing units");
    else showcaption(nullptr);
}

void showresult() { set_caption(with_news("Vantor - " + result())); }

void noteresult() {
    std::string line = result();
    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    titlenews(line);
}
