#include "resources/EmbeddedResources.h"

#include <cstring>

namespace kovalith::resources {

// Defined in the source generated from the PNG files.
extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

const EmbeddedResource* embeddedResources(std::size_t* count) {
    if (count) *count = kEmbeddedResourceCount;
    return kEmbeddedResources;
}

const EmbeddedResource* findResource(int id) {
    if (id == 0) return nullptr;
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i)
        if (kEmbeddedResources[i].id == id) return &kEmbeddedResources[i];
    return nullptr;
}

const EmbeddedResource* findResource(const char* name) {
    if (!name) return nullptr;
    for (std::size_t i = 0; i < kEmbeddedResourceCount; ++i)
        if (std::strcmp(kEmbeddedResources[i].name, name) == 0) return &kEmbeddedResources[i];
    return nullptr;
}

}  // namespace kovalith::resources
