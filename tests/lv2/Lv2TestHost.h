// A small LV2 host on lilv for the tests: loads the bundle the build wrote,
// runs an instance block by block with its ports and atom sequences, applies
// the bundle's presets and calls the state interface as hosts do.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lv2test {

class UridMap {
public:
    UridMap() {
        map_.handle = this;
        map_.map = [](LV2_URID_Map_Handle handle, const char* uri) { return static_cast<UridMap*>(handle)->map(uri); };
        unmap_.handle = this;
        unmap_.unmap = [](LV2_URID_Unmap_Handle handle, LV2_URID urid) {
            return static_cast<UridMap*>(handle)->unmap(urid);
        };
        mapFeature_ = {LV2_URID__map, &map_};
        unmapFeature_ = {LV2_URID__unmap, &unmap_};
    }
    LV2_URID map(const char* uri) {
        for (std::size_t i = 0; i < uris_.size(); ++i)
            if (uris_[i] == uri) return static_cast<LV2_URID>(i + 1);
        uris_.emplace_back(uri);
        return static_cast<LV2_URID>(uris_.size());
    }
    const char* unmap(LV2_URID urid) const { return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1].c_str() : nullptr; }
    LV2_URID_Map* mapper() { return &map_; }
    // urid:map and urid:unmap, null-terminated (no options: the plug-in must not need them).
    const LV2_Feature* const* features() {
        features_[0] = &mapFeature_;
        features_[1] = &unmapFeature_;
        features_[2] = nullptr;
        return features_;
    }

private:
    std::vector<std::string> uris_;
    LV2_URID_Map map_{};
    LV2_URID_Unmap unmap_{};
    LV2_Feature mapFeature_{}, unmapFeature_{};
    const LV2_Feature* features_[3] = {};
};

// The world with only our bundle in it.
class Bundle {
public:
    explicit Bundle(const std::string& bundleDir) : world_(lilv_world_new()) {
        std::string uri = "file://" + bundleDir;
        if (uri.back() != '/') uri += '/';
        LilvNode* bundle = lilv_new_uri(world_, uri.c_str());
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* pluginUri = lilv_new_uri(world_, "https://kovalith.audio/lv2/kovalith");
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), pluginUri);
        lilv_node_free(pluginUri);
    }
    ~Bundle() { lilv_world_free(world_); }
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    LilvWorld* world() const { return world_; }
    const LilvPlugin* plugin() const { return plugin_; }

    // The presets' URIs and labels, in program order (their URIs end in the program number).
    std::vector<std::pair<std::string, std::string>> presets() const {
        std::map<std::string, std::string> byUri;
        LilvNode* presetClass = lilv_new_uri(world_, LV2_PRESETS__Preset);
        LilvNode* label = lilv_new_uri(world_, LILV_NS_RDFS "label");
        LilvNodes* related = lilv_plugin_get_related(plugin_, presetClass);
        LILV_FOREACH(nodes, i, related) {
            const LilvNode* preset = lilv_nodes_get(related, i);
            lilv_world_load_resource(world_, preset);
            LilvNode* name = lilv_world_get(world_, preset, label, nullptr);
            byUri[lilv_node_as_uri(preset)] = name ? lilv_node_as_string(name) : "";
            lilv_node_free(name);
        }
        lilv_nodes_free(related);
        lilv_node_free(label);
        lilv_node_free(presetClass);
        return {byUri.begin(), byUri.end()};
    }

private:
    LilvWorld* world_;
    const LilvPlugin* plugin_ = nullptr;
};

// One instance with a buffer for every port.
class Instance {
public:
    static constexpr uint32_t kAtomCapacity = 8192;

    // misalignAtoms: the atom ports' buffers at 32-bit aligned addresses, as Debian's jalv 1.6 gives them.
    Instance(Bundle& bundle, UridMap& urids, double rate, bool misalignAtoms = false)
        : bundle_(bundle), urids_(urids), atomOffset_(misalignAtoms ? 4 : 0) {
        const LilvPlugin* plugin = bundle.plugin();
        instance_ = lilv_plugin_instantiate(plugin, rate, urids.features());
        if (!instance_) return;
        const uint32_t ports = lilv_plugin_get_num_ports(plugin);
        controls_.assign(ports, 0.0f);
        LilvNode* controlClass = lilv_new_uri(bundle.world(), LV2_CORE__ControlPort);
        LilvNode* atomClass = lilv_new_uri(bundle.world(), LV2_ATOM__AtomPort);
        LilvNode* inputClass = lilv_new_uri(bundle.world(), LV2_CORE__InputPort);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            symbols_[lilv_node_as_string(lilv_port_get_symbol(plugin, port))] = i;
            if (lilv_port_is_a(plugin, port, controlClass)) {
                LilvNode* def = nullptr;
                lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
                controls_[i] = def ? lilv_node_as_float(def) : 0.0f;
                lilv_node_free(def);
                lilv_instance_connect_port(instance_, i, &controls_[i]);
            } else if (lilv_port_is_a(plugin, port, atomClass)) {
                const bool input = lilv_port_is_a(plugin, port, inputClass);
                (input ? controlIn_ : notifyPort_) = i;
            }
        }
        lilv_node_free(inputClass);
        lilv_node_free(atomClass);
        lilv_node_free(controlClass);
        controlBuffer_.resize(kAtomCapacity / 8);
        notifyBuffer_.resize(kAtomCapacity / 8);
        portBuffers_.resize(2 * (kAtomCapacity / 8 + 1));
        lilv_instance_connect_port(instance_, controlIn_, portBuffer(0));
        lilv_instance_connect_port(instance_, notifyPort_, portBuffer(1));
        lv2_atom_forge_init(&forge_, urids.mapper());
        clearEvents();
        lilv_instance_activate(instance_);
    }
    ~Instance() {
        if (!instance_) return;
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    explicit operator bool() const { return instance_ != nullptr; }
    uint32_t port(const std::string& symbol) const {
        auto found = symbols_.find(symbol);
        return found == symbols_.end() ? UINT32_MAX : found->second;
    }
    float& control(const std::string& symbol) { return controls_.at(port(symbol)); }

    // Events for the next run, at frame 0 in the order given.
    LV2_Atom_Forge& eventForge() {
        lv2_atom_forge_frame_time(&forge_, 0);
        return forge_;
    }
    void midi(uint8_t status, uint8_t data1, uint8_t data2) {
        const uint8_t bytes[3] = {status, data1, data2};
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_atom(&forge_, 3, urids_.map(LV2_MIDI__MidiEvent));
        lv2_atom_forge_write(&forge_, bytes, 3);
    }

    // One block: the events queued since the last run, then the messages the plug-in sent.
    void run(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
        lv2_atom_forge_pop(&forge_, &sequence_);
        auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(notifyBuffer_.data());
        notify->atom.type = urids_.map(LV2_ATOM__Chunk);
        notify->atom.size = kAtomCapacity - sizeof(LV2_Atom_Sequence);
        lilv_instance_connect_port(instance_, 0, const_cast<float*>(inL));
        lilv_instance_connect_port(instance_, 1, const_cast<float*>(inR));
        lilv_instance_connect_port(instance_, 2, outL);
        lilv_instance_connect_port(instance_, 3, outR);
        // Misaligned, the plug-in's buffers are copies of ours.
        if (atomOffset_) {
            std::memcpy(portBuffer(0), controlBuffer_.data(), kAtomCapacity);
            std::memcpy(portBuffer(1), notifyBuffer_.data(), kAtomCapacity);
        }
        lilv_instance_run(instance_, frames);
        if (atomOffset_) std::memcpy(notifyBuffer_.data(), portBuffer(1), kAtomCapacity);
        clearEvents();
        LV2_ATOM_SEQUENCE_FOREACH(notify, event) {
            const auto* begin = reinterpret_cast<const uint8_t*>(&event->body);
            notified_.emplace_back(begin, begin + lv2_atom_total_size(&event->body));
        }
    }
    // The atoms the plug-in sent since the last call.
    std::vector<std::vector<uint8_t>> takeNotifications() { return std::move(notified_); }

    // The state interface, as a host calls it.
    using Properties = std::map<LV2_URID, std::pair<LV2_URID, std::vector<uint8_t>>>;  // key -> (type, bytes)
    Properties save() {
        Properties properties;
        auto store = [](LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t type,
                        uint32_t) -> LV2_State_Status {
            const auto* bytes = static_cast<const uint8_t*>(value);
            (*static_cast<Properties*>(handle))[key] = {type, std::vector<uint8_t>(bytes, bytes + size)};
            return LV2_STATE_SUCCESS;
        };
        if (const auto* state = stateInterface()) state->save(lilv_instance_get_handle(instance_), store, &properties, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
        return properties;
    }
    LV2_State_Status restore(const Properties& properties) {
        auto retrieve = [](LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type,
                           uint32_t* flags) -> const void* {
            const auto& all = *static_cast<const Properties*>(handle);
            auto found = all.find(key);
            if (found == all.end()) return nullptr;
            *size = found->second.second.size();
            *type = found->second.first;
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return found->second.second.data();
        };
        const auto* state = stateInterface();
        return state ? state->restore(lilv_instance_get_handle(instance_), retrieve,
                                      const_cast<Properties*>(&properties), 0, nullptr)
                     : LV2_STATE_ERR_UNKNOWN;
    }
    // A preset of the bundle, through lilv as hosts apply them: state, then port values.
    bool applyPreset(const std::string& uri) {
        LilvNode* node = lilv_new_uri(bundle_.world(), uri.c_str());
        lilv_world_load_resource(bundle_.world(), node);
        LilvState* state = lilv_state_new_from_world(bundle_.world(), urids_.mapper(), node);
        lilv_node_free(node);
        if (!state) return false;
        // Float values only, as Ardour takes them.
        auto setValue = [](const char* symbol, void* self, const void* value, uint32_t size, uint32_t type) {
            auto* instance = static_cast<Instance*>(self);
            if (type == instance->urids_.map(LV2_ATOM__Float) && size == sizeof(float) &&
                instance->port(symbol) != UINT32_MAX)
                std::memcpy(&instance->control(symbol), value, sizeof(float));
        };
        lilv_state_restore(state, instance_, setValue, this, 0, urids_.features());
        lilv_state_free(state);
        return true;
    }

private:
    uint8_t* portBuffer(int which) {
        if (!atomOffset_) return reinterpret_cast<uint8_t*>((which == 0 ? controlBuffer_ : notifyBuffer_).data());
        return reinterpret_cast<uint8_t*>(portBuffers_.data()) + which * (kAtomCapacity + 8) + atomOffset_;
    }
    const LV2_State_Interface* stateInterface() const {
        return static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
    }
    void clearEvents() {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(controlBuffer_.data()), kAtomCapacity);
        lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
    }

    Bundle& bundle_;
    UridMap& urids_;
    LilvInstance* instance_ = nullptr;
    std::map<std::string, uint32_t> symbols_;
    std::vector<float> controls_;
    uint32_t controlIn_ = 0, notifyPort_ = 0;
    std::size_t atomOffset_;
    std::vector<uint64_t> controlBuffer_, notifyBuffer_, portBuffers_;
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame sequence_{};
    std::vector<std::vector<uint8_t>> notified_;
};

}  // namespace lv2test
