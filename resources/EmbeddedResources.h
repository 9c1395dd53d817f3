// The editor's artwork, carried inside the library as PNG files.
#pragma once

#include <cstddef>

namespace kovalith::resources {

struct EmbeddedResource {
    int id;
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

// All embedded resources; ids 101, 104, 105 for the background and buttons, id 0 for the named knob bitmaps.
const EmbeddedResource* embeddedResources(std::size_t* count);
// The resource with this id, or null. Id 0 matches nothing: the knob bitmaps are found by name.
const EmbeddedResource* findResource(int id);
// The resource with this file name (exact, case-sensitive), or null; a null name finds nothing.
const EmbeddedResource* findResource(const char* name);

}  // namespace kovalith::resources
