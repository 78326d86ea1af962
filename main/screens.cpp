// The intro that opens the game and the game-over sequence that closes each game.
#include <cstring>

#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"

namespace {

constexpr int kIntroSlots = 20;
constexpr int kLastIntroSlot = 19;

// One line per slot; null slots stay blank. Only letters, digits, "." and blanks: the font has no more.
const char* const kIntroLines[kIntroSlots] = {
    "THE COLD WAR IS OVER. THE HOT ONE BEGINS AT DAWN.",
    nullptr,
    "FOUR POWERS HOLD CITIES AND FACTORIES. THEIR SILOS AND SUBMARINES ARE ARMED.",
    nullptr,
    "ON YOUR TURN CLICK ONE OF YOUR SILOS OR SUBMARINES ON THE MAP.",
    "SET THE BEARING ON THE DIAL AND THE POWER ON THE BAR OR WITH THEIR ARROWS.",
    nullptr,
    "PRESS FIRE. THE MISSILE FLIES ON BY ITSELF AND THE TURN PASSES AT ONCE.",
    "THE WORLD IS ROUND. A MISSILE LEAVING THE MAP EAST OR WEST COMES BACK ON THE OTHER.",
    nullptr,
    "A BLAST DESTROYS EVERYTHING CLOSE TO WHERE IT FALLS. ANY SIDE. YOURS TOO.",
    "EVERY ARRIVAL SADDENS A CITY OF THE SIDE WHOSE TURN IT IS. KEEP YOURS CONTENT.",
    "FACTORIES REFILL THEIR SILOS EVERY SECOND ROUND.",
    "PROTECT YOUR CAPITAL. IF IT FALLS OR DESPAIRS YOUR SIDE IS OUT.",
    "SO IS A SIDE WITHOUT MISSILES. THE LAST ONE STANDING WINS WHATEVER IS LEFT.",
    "PRESS F OR CLICK THE MAP TO HURRY THE COMPUTER. CLICK TO BEGIN.",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

constexpr const char* kTheEnd = "THE END";

}  // namespace

void startintro() {
    plat::blit(WinDC, 0, 0, MAP_WIDTH, MAP_HEIGHT, nullptr, 0, 0, plat::BLACKNESS);
    introover = false;
    cpu_timer = 0;
    PlayResource("SFXMissilelaunch");
    timer_mode = MODE_INTRO;
}

void introtext() {
    uint16_t slot = cpu_timer;
    cpu_timer++;
    if (slot < kIntroSlots && kIntroLines[slot]) {
        const char* line = kIntroLines[slot];
        blittext(12, static_cast<uint16_t>(14 + 20 * slot), line, static_cast<uint8_t>(std::strlen(line)));
    }
    if (slot == kLastIntroSlot) introover = true;
}

void skipintro() {
    for (int slot = 0; slot <= kLastIntroSlot && !(timer_mode == MODE_INTRO && introover); slot++) timerops();
    // A press and its release anywhere, as a person's click.
    mouseclick(MAP_WIDTH / 2, MAP_HEIGHT / 2);
    if (timer_mode == MODE_TITLE) blankicons2();
}

void gameover() {
    cpu_timer++;
    uint16_t t = cpu_timer;
    if (t >= 50 && t <= 56) {
        int i = t - 50;
        blitglyph(static_cast<uint16_t>(277 + GLYPH_WIDTH * i), 50, kTheEnd[i], plat::SRCPAINT);
        PlayResource("SFXGreyout");
    }
    if (t == 100) {
        timer_mode = MODE_TITLE;
        plat::blit(WinDC, CLOSEUP_X, CLOSEUP_Y, CLOSEUP_WIDTH, CLOSEUP_HEIGHT, nullptr, 0, 0, plat::BLACKNESS);
        erasecursor(cur_unit);
        releasemap();
        noteresult();
        starttitle();
    }
}
