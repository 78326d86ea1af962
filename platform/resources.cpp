// Lookup of the resources the build embeds into the program.
#include "platform/resources.h"

#include <strings.h>

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

}  // namespace plat
