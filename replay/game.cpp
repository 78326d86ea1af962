// Games taking turns at a thread's globals: each keeps a copy of every global while it is away.
#include "replay/game.h"

#include <algorithm>
#include <type_traits>

#include "model/globals.h"
#include "replay/stream.h"

namespace replay {

namespace {

// The game that holds this thread's globals now; null while none of the Game objects does.
thread_local Game* t_resident = nullptr;
// The game of the innermost scope open on this thread.
thread_local Game* t_scoped = nullptr;

template <typename T>
void copy_global(T& to, const T& from) {
    if constexpr (std::is_array_v<T>) std::copy(std::begin(from), std::end(from), std::begin(to));
    else to = from;
}

}  // namespace

// One member a global, with the global's start value.
struct Game::Store {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) type name dims = {start};
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
};

Game::Game() : store_(std::make_unique<Store>()) {
    const plat::GameContext& running = plat::game_context();
    context_.layered = running.layered;
    context_.window_pictures = running.window_pictures;
}

Game::~Game() {
    if (t_resident != this) return;
    t_resident = nullptr;
    plat::use_game_context(nullptr);
    set_listener(nullptr);
}

Game::Scope::Scope(Game& game) : outer_(t_scoped) {
    game.enter();
    t_scoped = &game;
}

Game::Scope::~Scope() {
    Game* inner = t_scoped;
    t_scoped = outer_;
    if (outer_ && outer_ != inner) outer_->enter();
}

void Game::save() {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) copy_global(store_->name, ::name);
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
}

void Game::load() {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) copy_global(::name, store_->name);
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
}

void Game::enter() {
    if (t_resident == this) return;
    if (t_resident) {
        t_resident->save();
        t_resident->listener_ = listener();
    }
    load();
    plat::use_game_context(&context_);
    set_listener(listener_);
    t_resident = this;
}

}  // namespace replay
