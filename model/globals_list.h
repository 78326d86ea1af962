// The one list of the game's globals: globals.h declares them from it, globals.cpp defines them and
// puts them back to their start values, and vantor-sim's state line shows and sets them by it.
//
//   VANTOR_GLOBAL(type, name, dims, start, key, limit)
//
// "type name dims" is the declaration. start is the value at start-up and after reset_globals, of
// every element of an array. key is the name vantor-sim's state line shows it under and its set
// command takes (nullptr: not shown), limit the largest value that set accepts (for text, the size
// of the buffer). The shown globals come first, in the order of the state line.
// No include guard: every user defines VANTOR_GLOBAL, includes this file, and undefines it.

// A table, aligned by hand.
// clang-format off

// The running game.
VANTOR_GLOBAL(uint8_t, timer_mode, , 0, "timer_mode", 255)       // the screen: 1 placing, 2 playing, 3 title, 4 game over, 5 intro
VANTOR_GLOBAL(uint16_t, seed, , 0, "seed", 65535)                 // state of the random number generator
VANTOR_GLOBAL(uint8_t, cur_player, , 0, "cur_player", 255)       // the side to move
VANTOR_GLOBAL(uint8_t, cur_unit, , 0, "cur_unit", 255)           // slot of the selected unit
VANTOR_GLOBAL(uint16_t, bearing, , 0, "bearing", 65535)           // set on the panel, 0..359
VANTOR_GLOBAL(uint16_t, power, , 0, "power", 65535)               // set on the panel, 0..99
VANTOR_GLOBAL(bool, alive, [NUM_SIDES], false, "alive", 1)        // the side is still in the game

// Options of a game, chosen on the title screen, and the maps to choose from.
VANTOR_GLOBAL(bool, cpu_player, [NUM_SIDES], false, "cpu_player", 1)  // side is played by the computer
VANTOR_GLOBAL(uint8_t, num_players, , 4, "num_players", 255)     // sides in the game, 2..4
VANTOR_GLOBAL(uint8_t, num_maps, , 0, "num_maps", MAX_MAPS)       // entries in filelist
VANTOR_GLOBAL(uint8_t, cur_map, , 0, "cur_map", 255)
VANTOR_GLOBAL(filename, filelist, [MAX_MAPS], filename{}, "maps", 0)      // listed map names, shown but never set
VANTOR_GLOBAL(uint8_t, num_city, , 0, "num_city", 255)
VANTOR_GLOBAL(uint8_t, num_silo, , 0, "num_silo", 255)
VANTOR_GLOBAL(uint8_t, num_sub, , 0, "num_sub", 255)
VANTOR_GLOBAL(uint8_t, num_factory, , 0, "num_factory", 255)     // always num_silo / 2
VANTOR_GLOBAL(uint16_t, cpu_skill, , 0, "cpu_skill", 65535)       // the computer's aiming error in pixels

// The computer player; cpu_timer also counts the intro's and the game over's ticks.
VANTOR_GLOBAL(uint16_t, cpu_timer, , 0, "cpu_timer", 65535)
VANTOR_GLOBAL(uint8_t, cpu_unit, , 0, "cpu_unit", 255)
VANTOR_GLOBAL(uint16_t, cpu_bearing, , 0, "cpu_bearing", 65535)
VANTOR_GLOBAL(uint16_t, cpu_power, , 0, "cpu_power", 65535)

VANTOR_GLOBAL(uint8_t, supply, , 0, "supply", 255)               // turns of the lowest live side since the last refill
VANTOR_GLOBAL(uint8_t, timer_count, , 0, "timer_count", 255)     // ticks since the frame last changed
VANTOR_GLOBAL(bool, cursor_on, , false, "cursor_on", 1)           // the selection frame is drawn
VANTOR_GLOBAL(bool, introover, , false, "introover", 1)           // the intro has been shown in full
VANTOR_GLOBAL(bool, justaborted, , false, "justaborted", 1)       // the game ended with the abort button
VANTOR_GLOBAL(uint32_t, startcols, [NUM_SIDES], 0, "startcols", 0xFFFFFFFFLL)  // territory colour of each side in this game
// The title screen's line, in place of the map name until the next click, has two sources. The rules'
// own: why the chosen map was refused at the Start press, part of the state that scripts look at.
VANTOR_GLOBAL(char, title_message, [32], 0, "title_message", sizeof title_message)

// And the news the players are told beside the rules (written by titlenews): a game's result, a start
// with no launchers, a lost connection; a refusal's line covers it. Also the eliminations since the
// last launch with their causes, for the caption.
VANTOR_GLOBAL(char, title_news, [32], 0, nullptr, 0)
VANTOR_GLOBAL(char, caption_news, [128], 0, nullptr, 0)
// Fast play: computer turns run their ticks four times as often. Only the wall clock changes.
VANTOR_GLOBAL(bool, fastplay, , false, nullptr, 0)
VANTOR_GLOBAL(uint32_t, tick_ms, , 0, nullptr, 0)  // the period the timer runs at now
// Online play, this window's own: the room and the colour, as the title's line and the caption show
// them ("K7QM-2XPA YELLOW"; empty when not online), and the side played here (NO_SLOT: none).
VANTOR_GLOBAL(char, online_label, [24], 0, nullptr, 0)
VANTOR_GLOBAL(uint8_t, online_side, , NO_SLOT, nullptr, 0)
// The caption's words after the room, on every screen ("the four seats are taken", to one who came to
// play and watches), and the creator's invitation, which the caption shows on the title screen and
// Ctrl+C copies.
VANTOR_GLOBAL(char, online_note, [48], 0, nullptr, 0)
VANTOR_GLOBAL(char, invite_link, [96], 0, nullptr, 0)
// A replay in the window: which game it is, for the caption ("World, 2026-12-09 15:30"; empty when
// not a replay).
VANTOR_GLOBAL(char, replay_label, [72], 0, nullptr, 0)

// Tables.
VANTOR_GLOBAL(weapon, item, [NUM_UNITS], weapon{}, nullptr, 0)          // unit slots, 40 per side
VANTOR_GLOBAL(icbm, shot, [NUM_SHOTS], icbm{}, nullptr, 0)            // missile slots
VANTOR_GLOBAL(bool, map_builtin, [MAX_MAPS], false, nullptr, 0)   // the listed map is built in, not a pair of files
VANTOR_GLOBAL(uint32_t, sidecols, [NUM_SIDES], 0, nullptr, 0)     // the four territory colours
VANTOR_GLOBAL(filename, loaded_map, , filename{}, nullptr, 0)     // the map pair of the game in play; empty with none
VANTOR_GLOBAL(bool, loaded_builtin, , false, nullptr, 0)         // that pair is built in

// Window and drawing surfaces.
VANTOR_GLOBAL(plat::Window*, hwnd, , nullptr, nullptr, 0)
VANTOR_GLOBAL(plat::Surface*, WinDC, , nullptr, nullptr, 0)      // the window; stands for the paint surface while a paint runs
VANTOR_GLOBAL(plat::Surface*, MapDC, , nullptr, nullptr, 0)      // scratch surface for copies from a bitmap
VANTOR_GLOBAL(plat::Surface*, TactDC, , nullptr, nullptr, 0)     // holds the territory map of the game
VANTOR_GLOBAL(plat::Surface*, FullDC, , nullptr, nullptr, 0)     // holds hFullimage, the clean map with every unit icon
VANTOR_GLOBAL(plat::Bitmap*, hMainmap, , nullptr, nullptr, 0)    // the shown map
VANTOR_GLOBAL(plat::Bitmap*, hTacticalmap, , nullptr, nullptr, 0)  // the territory map
VANTOR_GLOBAL(plat::Bitmap*, hFullimage, , nullptr, nullptr, 0)
VANTOR_GLOBAL(plat::Bitmap*, hPanelgfx, , nullptr, nullptr, 0)   // sprite sheet
VANTOR_GLOBAL(plat::Bitmap*, hPanelimage, , nullptr, nullptr, 0)  // panel background
VANTOR_GLOBAL(plat::Bitmap*, hFontgfx, , nullptr, nullptr, 0)    // font
VANTOR_GLOBAL(plat::Bitmap*, hTitlegfx, , nullptr, nullptr, 0)   // title screen
// clang-format on
