#include "resources/WindowsResources.h"

#include <windows.h>

namespace kovalith::resources {

namespace {

// The DLL's own handle: the module whose code holds this function's address.
HMODULE ownModule() {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(&ownModule), &module)) return nullptr;
    return module;
}

}  // namespace

EmbeddedResource moduleResource(int id, const char* name) {
    EmbeddedResource resource{id, name, nullptr, 0};
    const HMODULE module = ownModule();
    if (!module) return resource;
    const LPCSTR key = id != 0 ? MAKEINTRESOURCEA(id) : name;
    const HRSRC info = FindResourceA(module, key, "PNG");
    if (!info) return resource;
    // Resources stay mapped as long as the module: nothing to free.
    const HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return resource;
    resource.data = static_cast<const unsigned char*>(data);
    resource.size = SizeofResource(module, info);
    return resource;
}

}  // namespace kovalith::resources
