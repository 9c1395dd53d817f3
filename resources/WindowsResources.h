// Windows: the artwork is carried as real resources of the plug-in's DLL
// (type PNG, by id or by file name) rather than as arrays in the code.
#pragma once

#include "resources/EmbeddedResources.h"

namespace kovalith::resources {

// The resource in the module that contains this code (the plug-in's DLL, not
// the host's executable), found with FindResource and LoadResource; data null
// and size 0 when it is missing. `id` 0 looks the resource up by `name`.
EmbeddedResource moduleResource(int id, const char* name);

}  // namespace kovalith::resources
