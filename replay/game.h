// Several games in one process. The rules keep their globals; each thread has its own set of them
// (model/globals.h), and a Game keeps one game's set while other games use the thread's. A game is
// entered only through a Scope: the game that held the thread is put away and this one's globals come
// back, pictures and window included (the globals hold only their handles), with its context
// (platform/context.h: how its pictures are made, its sounds, its settings file) and the listener of
// its inputs (replay/stream.h). So games on one thread take turns, games on different threads never
// meet, and a recorder set while a game is entered hears that game alone.
#pragma once

#include <memory>

#include "platform/context.h"

namespace replay {

class Listener;

class Game {
public:
    // A game at the start values of every global, with no window yet: enter it, then open one. Its
    // pictures are made as the running game's are, and it has no settings file.
    Game();
    // Leaves the thread's globals as they are when this game holds them; close its window first.
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // The game is the thread's while a Scope lasts. Leaving a scope keeps its globals in place, so
    // that the next scope of the same game costs nothing; an inner scope of another game gives the
    // thread back to the outer one's as it ends.
    class Scope {
    public:
        explicit Scope(Game& game);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Game* outer_;
    };

    // Runs f with the game entered.
    template <typename F>
    auto in(F f) {
        Scope scope(*this);
        return f();
    }

private:
    struct Store;
    void enter();
    void save();
    void load();
    std::unique_ptr<Store> store_;
    plat::GameContext context_;
    Listener* listener_ = nullptr;
};

}  // namespace replay
