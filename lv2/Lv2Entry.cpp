// The plug-in module's entry point: the LV2 descriptor and its C callbacks.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <new>

#include "lv2/KovalithLv2.h"
#include "lv2/Lv2Uris.h"

namespace kovalith {
namespace lv2 {
namespace {

KovalithLv2* self(LV2_Handle handle) { return static_cast<KovalithLv2*>(handle); }

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (!map || !(rate > 0.0)) return nullptr;
    return new (std::nothrow) KovalithLv2(rate, *map);
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) { self(handle)->connectPort(port, data); }
void activate(LV2_Handle handle) { self(handle)->activate(); }
void run(LV2_Handle handle, uint32_t frames) { self(handle)->run(frames); }
void deactivate(LV2_Handle) {}
void cleanup(LV2_Handle handle) { delete self(handle); }

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
    return self(handle)->save(store, state);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const*) {
    return self(handle)->restore(retrieve, state);
}

const LV2_State_Interface stateInterface = {save, restore};

const void* extensionData(const char* uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &stateInterface : nullptr;
}

const LV2_Descriptor descriptor = {kPluginUri, instantiate, connectPort, activate, run, deactivate, cleanup,
                                   extensionData};

}  // namespace
}  // namespace lv2
}  // namespace kovalith

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kovalith::lv2::descriptor : nullptr;
}
