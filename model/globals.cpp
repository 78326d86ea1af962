// Definitions of every global of the game, with their start values, from the list in globals_list.h.
#include "model/globals.h"

#include <type_traits>

#define VANTOR_GLOBAL(type, name, dims, start, key, limit) thread_local type name dims = {start};
#include "model/globals_list.h"
#undef VANTOR_GLOBAL

namespace {

template <typename T>
void put_back(T& global, const T& start) {
    global = start;
}

template <typename T, size_t N>
void put_back(T (&global)[N], const T& start) {
    for (T& element : global) put_back(element, start);
}

}  // namespace

void reset_globals() {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) \
    put_back(name, std::remove_all_extents_t<decltype(name)>{start});
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
}
