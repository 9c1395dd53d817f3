// A small CLAP host for the tests: loads a .clap module through its entry,
// creates one plug-in, answers the host extensions a plug-in asks for and
// records what it asked, and drives it as a host's main and audio threads do
// (here both on the calling thread; the thread-check answers say so).
#pragma once

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/note-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin-factory.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace claptest {

// The tail extension is younger than the headers at hand; its layout is one function.
inline constexpr char kExtTail[] = "clap.tail";
struct PluginTail {
    uint32_t (*get)(const clap_plugin_t* plugin);
};

class ClapModule {
public:
    // dlopens `path`, checks clap_entry's version and calls init. Null (with
    // the reason in `error`) when any step fails.
    static std::unique_ptr<ClapModule> open(const std::string& path, std::string* error);
    ~ClapModule();
    ClapModule(const ClapModule&) = delete;
    ClapModule& operator=(const ClapModule&) = delete;

    const clap_plugin_entry_t* entry() const { return entry_; }
    const clap_plugin_factory_t* factory() const;
    const std::string& path() const { return path_; }

private:
    ClapModule() = default;
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    std::string path_;
};

// Events in time order: what the host hands in (input) or what the plug-in
// pushed (output). Every event is copied whole.
class EventList {
public:
    EventList();
    void add(const clap_event_header_t& event);
    void addParamValue(clap_id id, double value, uint32_t time = 0);
    void addMidi(uint8_t status, uint8_t data1, uint8_t data2, uint32_t time = 0, uint16_t port = 0);
    void clear() { events_.clear(); }

    size_t size() const { return events_.size(); }
    const clap_event_header_t& at(size_t i) const;
    // The events of one type (CLAP_EVENT_*) in the core space.
    std::vector<const clap_event_header_t*> ofType(uint16_t type) const;

    const clap_input_events_t* input() const { return &input_; }
    const clap_output_events_t* output() const { return &output_; }

private:
    std::vector<std::vector<uint8_t>> events_;
    clap_input_events_t input_;
    clap_output_events_t output_;
};

// A transport at `tempo` bpm standing at `beats` (fixed point as CLAP has it),
// 4/4, bars of four beats from zero.
clap_event_transport_t makeTransport(double tempo, clap_beattime beats, bool playing = true);
// The position `frames` later at the transport's tempo, in CLAP's fixed point.
clap_beattime advanceBeats(const clap_event_transport_t& transport, uint32_t frames, double sampleRate);

// What the plug-in asked of the host since the last clear().
struct HostRecord {
    std::atomic<int> requestFlush{0};
    std::atomic<int> requestCallback{0};
    std::atomic<int> requestProcess{0};
    std::atomic<int> requestRestart{0};
    std::atomic<int> rescan{0};
    std::atomic<uint32_t> rescanFlags{0};
    std::atomic<int> markDirty{0};
    std::atomic<int> tailChanged{0};
    std::atomic<int> latencyChanged{0};
    std::atomic<int> guiClosed{0};
    std::atomic<int> resizeRequests{0};
    std::atomic<uint32_t> resizeWidth{0};
    std::atomic<uint32_t> resizeHeight{0};
};

class ClapInstance {
public:
    // Creates and inits the plug-in `id` of `module` on the calling thread,
    // which counts as the main thread. `withTimers` false: the host offers no
    // timer-support.
    static std::unique_ptr<ClapInstance> create(ClapModule& module, const char* id, std::string* error,
                                                bool withTimers = true);
    ~ClapInstance();
    ClapInstance(const ClapInstance&) = delete;
    ClapInstance& operator=(const ClapInstance&) = delete;

    const clap_plugin_t* plugin() const { return plugin_; }
    const void* extension(const char* id) const { return plugin_->get_extension(plugin_, id); }
    const clap_plugin_params_t* params() const { return params_; }
    const clap_plugin_state_t* state() const { return state_; }
    const clap_plugin_gui_t* gui() const { return gui_; }

    bool activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames);
    void deactivate();
    bool isActive() const { return active_; }
    double sampleRate() const { return sampleRate_; }

    // One audio block of `frames` stereo samples; starts processing first
    // when needed. The audio-thread flag is set for the call.
    clap_process_status process(const float* const* in, float* const* out, uint32_t frames, const EventList* events,
                                EventList* outEvents, const clap_event_transport_t* transport = nullptr);
    // A parameter flush (main thread while inactive).
    void flush(const EventList& events, EventList& outEvents);

    // Parameters through the extension.
    uint32_t paramCount() const;
    std::optional<clap_param_info_t> paramInfo(uint32_t index) const;
    std::optional<double> paramValue(clap_id id) const;
    std::optional<std::string> paramText(clap_id id, double value) const;
    std::optional<double> paramFromText(clap_id id, const std::string& text) const;

    // The plug-in's state as saved through a stream that takes at most
    // `chunk` bytes per write (0: everything at once); empty when save fails.
    std::optional<std::vector<uint8_t>> saveState(size_t chunk = 0) const;
    // Loads `bytes` through a stream that gives at most `chunk` bytes per read
    // (0: as much as asked); `failAt` >= 0 makes the read at that byte offset fail.
    bool loadState(const std::vector<uint8_t>& bytes, size_t chunk = 0, long failAt = -1) const;

    // The timers the plug-in registered, by id.
    std::vector<clap_id> timers() const;
    uint32_t timerPeriod(clap_id id) const;
    // Calls on_timer for every registered timer, as the host's run loop does.
    void fireTimers();
    // The host side of timer-support.
    bool registerTimer(uint32_t periodMs, clap_id* id);
    bool unregisterTimer(clap_id id);
    // Calls on_main_thread once if the plug-in asked for a callback.
    void runCallback();

    HostRecord& record() { return record_; }
    void clearRecord();

    // Thread-check answers: the calling thread is the main thread unless it is
    // inside process().
    bool inAudioThread() const { return inProcess_.load(); }

private:
    ClapInstance() = default;
    static const void* hostExtension(const clap_host_t* host, const char* id);

    clap_host_t host_{};
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
    const clap_plugin_state_t* state_ = nullptr;
    const clap_plugin_gui_t* gui_ = nullptr;
    bool withTimers_ = true;
    bool active_ = false;
    bool processing_ = false;
    double sampleRate_ = 0.0;
    std::atomic<bool> inProcess_{false};
    struct Timer {
        clap_id id;
        uint32_t period;
    };
    std::vector<Timer> timers_;
    clap_id nextTimer_ = 1;
    HostRecord record_;
};

// Renders stereo `input` (left, right) through `instance` in blocks of
// `block` frames, the last one short, then `tailFrames` of silence in fresh
// blocks, as `kovalith render --tail` does; `transport` (when given) is
// advanced block by block.
std::vector<std::vector<float>> renderClap(ClapInstance& instance, const std::vector<std::vector<float>>& input,
                                           uint32_t block, std::optional<clap_event_transport_t> transport = {},
                                           size_t tailFrames = 0);

}  // namespace claptest
