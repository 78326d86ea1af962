// Resources built into the program: artwork, sounds and the built-in maps.
#pragma once

#include <cstddef>

namespace plat {

struct Resource {
    const char* type;  // "BITMAP", "WAVE" or "MAP"
    const char* name;  // for maps the file name, as "World.map"
    const unsigned char* data;
    size_t size;
};

// The resource of that type and name, both compared case-insensitively; null when there is none.
const Resource* find_resource(const char* type, const char* name);

// Every built-in resource, in the order of their names.
const Resource* resource_table(size_t* count);

}  // namespace plat
