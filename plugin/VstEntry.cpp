// The plug-in's only exported entry, VSTPluginMain (also exported as main).
#include <new>

#include "plugin/KovalithEdit.h"

// On Windows the module definition file (Kovalith.def) exports it, and main with it.
#ifdef _WIN32
#define KOVALITH_EXPORT
#else
#define KOVALITH_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

KOVALITH_EXPORT vst2::AEffect* VSTPluginMain(vst2::audioMasterCallback host) {
    if (!host || host(nullptr, vst2::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    try {
        auto* effect = new kovalith::KovalithEdit(host);
        return effect->getAeffect();
    } catch (...) {
        // Out of memory while the units allocate their buffers: no instance.
        return nullptr;
    }
}

#ifndef _WIN32
// Older hosts look the entry up under this name; it is the same function.
__attribute__((visibility("default"), alias("VSTPluginMain"))) vst2::AEffect* main_plugin(
    vst2::audioMasterCallback host) asm("main");
#endif

}  // extern "C"
