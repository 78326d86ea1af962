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
// In the browser the built-in maps are files beside the page, fetched here the first time they are
// wanted (null when that fails).
const Resource* find_resource(const char* type, const char* name);

// Whether there is such a resource, without fetching it.
bool has_resource(const char* type, const char* name);

// Every built-in resource, in the order of their names.
const Resource* resource_table(size_t* count);

// Once a resource has been decoded, its bytes need not stay in memory: the pages that lie wholly
// within it are handed back to the kernel, which reads them from the program file again should
// they be wanted. Does nothing unless [data, data + size) lies within one built-in resource.
void release_resource_pages(const void* data, size_t size);

}  // namespace plat
