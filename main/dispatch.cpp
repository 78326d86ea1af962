// The three dispatchers: the tick, the repaint and the left click, each by the running screen; a whole
// picture for a newcomer.
#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "platform/window.h"

void keypress(uint32_t key) {
    if (key == 'F' || key == plat::VK_SPACE) togglefast();
}

void togglefast() {
    fastplay = !fastplay;
    pacetimer();
    if (timer_mode == MODE_PLAYING) showturn();
}

void pacetimer() {
    uint32_t wanted = fastplay && timer_mode == MODE_PLAYING && cpu_player[cur_player] ? FAST_TICK_MS : TICK_MS;
    if (wanted == tick_ms || !hwnd) return;
    plat::set_timer(hwnd, TIMER_ID, wanted);
    tick_ms = wanted;
}

void timerops() {
    switch (timer_mode) {
        case MODE_PLACING:
            if (!initunit()) beginplay();
            printmap(FullDC);
            break;
        case MODE_PLAYING:
            flashcursor();
            moveshots();
            greyunits();
            cpuaction();
            break;
        case MODE_GAMEOVER:
            flashcursor();
            gameover();
            greyunits();
            break;
        case MODE_INTRO:
            introtext();
            break;
        default:
            break;
    }
    // The turn may have passed to or from a computer side.
    pacetimer();
}

void repaint() {
    // A paint only draws: the scratch surface gets back the bitmap it held.
    plat::Bitmap* held = MapDC ? MapDC->bitmap : nullptr;
    switch (timer_mode) {
        case MODE_PLACING:
            blankpanel();
            plat::select_bitmap(MapDC, hMainmap);
            plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
            break;
        case MODE_PLAYING:
            blankpanel();
            printpanel();
            plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
            break;
        case MODE_TITLE:
            plat::select_bitmap(MapDC, hTitlegfx);
            plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, MapDC, 0, 0, plat::SRCCOPY);
            titleinfo();
            blankicons2();
            blankpanel();
            break;
        case MODE_INTRO: {
            plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, nullptr, 0, 0, plat::BLACKNESS);
            // Replay the intro's steps so far, drawing every line already shown.
            uint16_t reached = cpu_timer;
            cpu_timer = 0;
            while (cpu_timer < reached) introtext();
            blankpanel();
            cpu_timer = reached;
            break;
        }
        default:
            break;
    }
    plat::select_bitmap(MapDC, held);
}

void paintwhole() {
    repaint();
    // A paint leaves the game-over screen as it is: its map and panel are drawn as in play, so that a
    // player who comes in then sees the grey map rather than black.
    if (timer_mode == MODE_GAMEOVER) {
        if (cur_unit < NUM_UNITS) printpanel();
        else blankpanel();
        plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, FullDC, 0, 0, plat::SRCCOPY);
    }
}

void mouseclick(uint16_t x, uint16_t y) {
    // Each test reads timer_mode afresh: a handler may have changed it.
    if (timer_mode == MODE_PLAYING) {
        clickabort(x, y);
        if (cpu_player[cur_player]) {
            // The rules ignore a click on the map in a computer's turn: here it hurries the game.
            if (timer_mode == MODE_PLAYING && y < MAP_HEIGHT) togglefast();
            return;
        }
        clickunit(x, y);
        clickpanel(x, y);
    }
    if (timer_mode == MODE_TITLE) clicktitle(x, y);
    if (timer_mode == MODE_INTRO && introover) {
        PlayResource("SFXBoom");
        starttitle();
    }
    pacetimer();
}
