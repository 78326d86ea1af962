// Games taking turns at a thread's globals: each keeps a copy of every global while it is away.
#include "replay/game.h"

#include <algorithm>
#include <type_traits>

#include "model/globals.h"

namespace replay {

namespace {

// The game that holds this thread's globals now; null while none of the Game objects does.
thread_local Game* t_resident = nullptr;

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

Game::Game() : store_(std::make_unique<Store>()) {}

Game::~Game() {
    if (t_resident == this) t_resident = nullptr;
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
    if (t_resident) t_resident->save();
    load();
    t_resident = this;
}

}  // namespace replay
