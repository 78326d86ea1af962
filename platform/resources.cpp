// Lookup of the resources the build embeds into the program.
#include "platform/resources.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace plat {

extern const size_t kResourceCount;
extern Resource kResources[];
void fill_resource_sizes();

namespace {

void ensure_sizes() {
    static bool filled = false;
    if (!filled) {
        fill_resource_sizes();
        filled = true;
    }
}

Resource* lookup(const char* type, const char* name) {
    if (!type || !name) return nullptr;
    ensure_sizes();
    for (size_t i = 0; i < kResourceCount; i++) {
        if (strcasecmp(kResources[i].type, type) == 0 && strcasecmp(kResources[i].name, name) == 0)
            return &kResources[i];
    }
    return nullptr;
}

#ifdef __EMSCRIPTEN__
// A resource the page serves as a file of its own: the game waits while the browser fetches it.
bool fetch(Resource* res) {
    void* bytes = nullptr;
    int size = 0, error = 0;
    emscripten_wget_data((std::string("maps/") + res->name).c_str(), &bytes, &size, &error);
    if (error || !bytes) return false;
    res->data = static_cast<const unsigned char*>(bytes);
    res->size = static_cast<size_t>(size);
    return true;
}
#endif

}  // namespace

const Resource* find_resource(const char* type, const char* name) {
    Resource* res = lookup(type, name);
#ifdef __EMSCRIPTEN__
    if (res && !res->data && !fetch(res)) return nullptr;
#endif
    return res;
}

bool has_resource(const char* type, const char* name) { return lookup(type, name) != nullptr; }

const Resource* resource_table(size_t* count) {
    ensure_sizes();
    if (count) *count = kResourceCount;
    return kResources;
}

void release_resource_pages(const void* data, size_t size) {
    if (!data || size == 0) return;
    ensure_sizes();
#ifdef __EMSCRIPTEN__
    // A fetched file is given back whole, to be fetched again (from the browser's cache) if wanted.
    for (size_t i = 0; i < kResourceCount; i++) {
        if (kResources[i].data == data && std::strcmp(kResources[i].type, "MAP") == 0) {
            std::free(const_cast<unsigned char*>(kResources[i].data));
            kResources[i].data = nullptr;
            kResources[i].size = 0;
        }
    }
    (void)size;
    return;
#endif
    auto begin = reinterpret_cast<uintptr_t>(data);
    bool builtin = false;
    for (size_t i = 0; i < kResourceCount && !builtin; i++) {
        auto start = reinterpret_cast<uintptr_t>(kResources[i].data);
        builtin = begin >= start && size <= kResources[i].size && begin - start <= kResources[i].size - size;
    }
    // Anything else may be memory of the heap, which the same call would wipe.
    if (!builtin) return;
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return;
    auto page_size = static_cast<uintptr_t>(page);
    uintptr_t first = (begin + page_size - 1) / page_size * page_size;
    uintptr_t last = (begin + size) / page_size * page_size;
    // The resources are read-only pages of the program file, so dropping them loses nothing.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace plat
