// The CLAP binary interface: clap_entry, the factory with its one descriptor,
// and the thin static callbacks of the plug-in and its extensions. Each
// recovers the instance from plugin_data and forwards to ClapKovalith.
#include "clap/entry.h"
#include "clap/plugin-factory.h"

#include <cstring>
#include <new>

#include "clap/ClapKovalith.h"

namespace kovalith {
namespace clapshell {
namespace {

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_FILTER,
                                 CLAP_PLUGIN_FEATURE_DELAY,        CLAP_PLUGIN_FEATURE_DISTORTION,
                                 CLAP_PLUGIN_FEATURE_STEREO,       nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT,
    "audio.kovalith.kovalith",
    "Kovalith",
    "kovalith.audio",
    "https://kovalith.audio",
    "",
    "",
    "0.9",
    "Spectral-envelope effect: warped linear prediction, saturation, decimation, varispeed, "
    "a filtered feedback delay and two LFOs",
    const_cast<const char**>(kFeatures),
};

ClapKovalith* instance(const clap_plugin_t* plugin) {
    return plugin ? static_cast<ClapKovalith*>(plugin->plugin_data) : nullptr;
}

// ---- extensions ---------------------------------------------------------------------

uint32_t CLAP_ABI audioPortCount(const clap_plugin_t*, bool) { return 1; }

bool CLAP_ABI audioPortInfo(const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
    if (index != 0 || !info) return false;
    *info = clap_audio_port_info_t{};
    info->id = 0;
    std::strcpy(info->name, isInput ? "Input" : "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    // Every sample is read before its output is written: in place is fine.
    info->in_place_pair = 0;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {audioPortCount, audioPortInfo};

// One MIDI input, for the controllers that drive learned parameters.
uint32_t CLAP_ABI notePortCount(const clap_plugin_t*, bool isInput) { return isInput ? 1 : 0; }

bool CLAP_ABI notePortInfo(const clap_plugin_t*, uint32_t index, bool isInput, clap_note_port_info_t* info) {
    if (index != 0 || !isInput || !info) return false;
    *info = clap_note_port_info_t{};
    info->id = 0;
    info->supported_dialects = CLAP_NOTE_DIALECT_MIDI;
    info->preferred_dialect = CLAP_NOTE_DIALECT_MIDI;
    std::strcpy(info->name, "MIDI In");
    return true;
}

const clap_plugin_note_ports_t kNotePorts = {notePortCount, notePortInfo};

const clap_plugin_params_t kParams = {
    [](const clap_plugin_t* p) -> uint32_t { return instance(p) ? instance(p)->paramCount() : 0; },
    [](const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) {
        return instance(p) && instance(p)->paramInfo(index, info);
    },
    [](const clap_plugin_t* p, clap_id id, double* value) { return instance(p) && instance(p)->paramValue(id, value); },
    [](const clap_plugin_t* p, clap_id id, double value, char* display, uint32_t size) {
        return instance(p) && instance(p)->valueToText(id, value, display, size);
    },
    [](const clap_plugin_t* p, clap_id id, const char* display, double* value) {
        return instance(p) && instance(p)->textToValue(id, display, value);
    },
    [](const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
        if (ClapKovalith* k = instance(p)) k->flush(in, out);
    },
};

const clap_plugin_state_t kState = {
    [](const clap_plugin_t* p, const clap_ostream_t* stream) { return instance(p) && instance(p)->saveState(stream); },
    [](const clap_plugin_t* p, const clap_istream_t* stream) { return instance(p) && instance(p)->loadState(stream); },
};

const clap_plugin_latency_t kLatency = {[](const clap_plugin_t*) -> uint32_t { return 0; }};

const PluginTail kTail = {[](const clap_plugin_t* p) -> uint32_t { return instance(p) ? instance(p)->tail() : 0; }};

const clap_plugin_gui_t kGui = {
    [](const clap_plugin_t*, const char* api, bool isFloating) {
        return ClapKovalith::isApiSupported(api, isFloating);
    },
    [](const clap_plugin_t*, const char** api, bool* isFloating) {
        if (!api || !isFloating || !ClapKovalith::isApiSupported(kWindowApi, false)) return false;
        *api = kWindowApi;
        *isFloating = false;
        return true;
    },
    [](const clap_plugin_t* p, const char* api, bool isFloating) {
        return instance(p) && instance(p)->guiCreate(api, isFloating);
    },
    [](const clap_plugin_t* p) {
        if (ClapKovalith* k = instance(p)) k->guiDestroy();
    },
    [](const clap_plugin_t* p, double scale) { return instance(p) && instance(p)->guiSetScale(scale); },
    [](const clap_plugin_t* p, uint32_t* width, uint32_t* height) {
        return instance(p) && instance(p)->guiSize(width, height);
    },
    [](const clap_plugin_t*) { return false; },  // can_resize
    [](const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; },
    [](const clap_plugin_t*, uint32_t*, uint32_t*) { return false; },  // adjust_size: not resizable
    [](const clap_plugin_t* p, uint32_t width, uint32_t height) {
        uint32_t w = 0, h = 0;
        return instance(p) && instance(p)->guiSize(&w, &h) && w == width && h == height;
    },
    [](const clap_plugin_t* p, const clap_window_t* window) {
        return instance(p) && instance(p)->guiSetParent(window);
    },
    [](const clap_plugin_t*, const clap_window_t*) { return false; },  // no floating window
    [](const clap_plugin_t*, const char*) {},
    [](const clap_plugin_t* p) { return instance(p) && instance(p)->guiShow(); },
    [](const clap_plugin_t* p) { return instance(p) && instance(p)->guiHide(); },
};

const clap_plugin_timer_support_t kTimerSupport = {[](const clap_plugin_t* p, clap_id timer) {
    if (ClapKovalith* k = instance(p)) k->onTimer(timer);
}};

// ---- plug-in ------------------------------------------------------------------------

const void* CLAP_ABI getExtension(const clap_plugin_t*, const char* id) {
    if (!id) return nullptr;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kAudioPorts;
    if (!std::strcmp(id, CLAP_EXT_NOTE_PORTS)) return &kNotePorts;
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
    if (!std::strcmp(id, kExtTail)) return &kTail;
    if (!std::strcmp(id, CLAP_EXT_GUI) && ClapKovalith::isApiSupported(kWindowApi, false)) return &kGui;
    if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimerSupport;
    return nullptr;
}

const clap_plugin_t kPluginTemplate = {
    &kDescriptor,
    nullptr,
    [](const clap_plugin_t* p) { return instance(p) && instance(p)->init(); },
    [](const clap_plugin_t* p) { delete instance(p); },
    [](const clap_plugin_t* p, double rate, uint32_t minFrames, uint32_t maxFrames) {
        return instance(p) && instance(p)->activate(rate, minFrames, maxFrames);
    },
    [](const clap_plugin_t* p) {
        if (ClapKovalith* k = instance(p)) k->deactivate();
    },
    [](const clap_plugin_t*) { return true; },  // start_processing
    [](const clap_plugin_t*) {},                // stop_processing
    [](const clap_plugin_t* p) {
        if (ClapKovalith* k = instance(p)) k->reset();
    },
    [](const clap_plugin_t* p, const clap_process_t* process) -> clap_process_status {
        ClapKovalith* k = instance(p);
        return k ? k->process(process) : CLAP_PROCESS_ERROR;
    },
    getExtension,
    [](const clap_plugin_t* p) {
        if (ClapKovalith* k = instance(p)) k->onMainThread();
    },
};

// ---- factory and entry --------------------------------------------------------------

uint32_t CLAP_ABI pluginCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* CLAP_ABI pluginDescriptor(const clap_plugin_factory_t*, uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin_t* CLAP_ABI createPlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    if (!host || !host->get_extension || !id || std::strcmp(id, kDescriptor.id) != 0) return nullptr;
    if (!clap_version_is_compatible(host->clap_version)) return nullptr;
    // Nothing may throw across the C boundary: without memory there is no plug-in.
    try {
        return (new ClapKovalith(host, kPluginTemplate))->clapPlugin();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const clap_plugin_factory_t kFactory = {pluginCount, pluginDescriptor, createPlugin};

bool CLAP_ABI entryInit(const char*) { return true; }
void CLAP_ABI entryDeinit() {}
const void* CLAP_ABI entryFactory(const char* id) {
    return id && !std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) ? &kFactory : nullptr;
}

}  // namespace
}  // namespace clapshell
}  // namespace kovalith

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT,
    kovalith::clapshell::entryInit,
    kovalith::clapshell::entryDeinit,
    kovalith::clapshell::entryFactory,
};
