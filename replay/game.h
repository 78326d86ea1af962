// Several games in one process. The rules keep their globals; each thread has its own set of them
// (model/globals.h), and a Game keeps one game's set while other games use the thread's. Entering a
// game puts the game that held the thread away and brings this one's globals back, pictures and
// window included (the globals hold only their handles), so games on one thread take turns and games
// on different threads never meet.
#pragma once

#include <memory>

namespace replay {

class Game {
public:
    // A game at the start values of every global, with no window yet: enter it, then open one.
    Game();
    // Leaves the thread's globals as they are when this game holds them; close its window first.
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // Makes this game's globals the thread's.
    void enter();

private:
    struct Store;
    void save();
    void load();
    std::unique_ptr<Store> store_;
};

}  // namespace replay
