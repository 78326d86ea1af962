// Lookup of the resources the build embeds into the program.
#include "platform/resources.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

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

}  // namespace

const Resource* find_resource(const char* type, const char* name) {
    if (!type || !name) return nullptr;
    ensure_sizes();
    for (size_t i = 0; i < kResourceCount; i++) {
        if (strcasecmp(kResources[i].type, type) == 0 && strcasecmp(kResources[i].name, name) == 0)
            return &kResources[i];
    }
    return nullptr;
}

const Resource* resource_table(size_t* count) {
    ensure_sizes();
    if (count) *count = kResourceCount;
    return kResources;
}

void release_resource_pages(const void* data, size_t size) {
    if (!data || size == 0) return;
    ensure_sizes();
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
