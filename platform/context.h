// What one game keeps of the platform's and the front end's besides its globals: how its pictures are
// made, the sounds it started headless, the settings file it reads and writes. Each thread has a
// context of its own, which a game that is entered replaces with its own (replay/game.h).
#pragma once

#include <string>
#include <vector>

namespace plat {

struct GameContext {
    bool layered = false;             // the map with its icons is layered over the map (gdi.h)
    bool window_pictures = true;      // windows opened have a picture (null.h)
    std::vector<std::string> sounds;  // the sounds started, headless (null.h)
    std::string settings_path;        // empty: no settings are read or written (init.h)
};

// The context of the game this thread runs.
GameContext& game_context();
// Makes the context the thread's; null gives the thread its own back.
void use_game_context(GameContext* context);

}  // namespace plat
