// The effect as a CLAP plug-in: one KovalithEffect behind CLAP's plug-in
// object and the extensions audio-ports, note-ports, params, state, latency,
// tail, gui and timer-support.
//
// Threads, as CLAP has them: the host's main thread creates, activates and
// destroys the plug-in and calls params (but flush while active), state and
// gui; the audio thread calls process and, while active, flush. Host events
// are applied at the start of the block they arrive in, in list order, as the
// VST 2.4 plug-in applies the changes a host makes between blocks; so a block
// without events renders exactly as that plug-in does. Editor edits go into
// the effect at once (it is thread-safe) and reach the host as output events
// of the next process or flush, which request_flush asks for.
//
// Programs: CLAP has no program list. The state carries the bank and the
// current program, so a saved session keeps both; the editor and the host's
// own preset handling work on that state.
#pragma once

#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/note-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "effect/ChangeQueue.h"
#include "effect/EditController.h"
#include "effect/KovalithEffect.h"

namespace kovalith {

class KovalithEditor;

namespace clapshell {

// Declared here because the CLAP 1.1.1 headers at hand lack them: the tail
// extension (one function each side) and the enum flag of stepped parameters
// whose steps have names (hosts that do not know it ignore it).
constexpr char kExtTail[] = "clap.tail";
struct PluginTail {
    uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);
};
struct HostTail {
    void(CLAP_ABI* changed)(const clap_host_t* host);
};
constexpr clap_param_info_flags kParamIsEnum = 1u << 16;

#ifdef _WIN32
constexpr const char* kWindowApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kWindowApi = CLAP_WINDOW_API_X11;
#endif

// The editor's redraw period on the host's timer (about 30 Hz).
constexpr uint32_t kEditorTimerMs = 33;
// The tail reported while "Feedback" is 0: the lattices, the varispeed
// window and the analysis block let go of the input within a second.
constexpr double kDryTailSeconds = 1.0;
// CLAP's "infinite" tail: with feedback the delay loop can ring for ever.
constexpr uint32_t kInfiniteTail = UINT32_MAX;

// One editor gesture step on its way to the host.
struct EditEvent {
    uint16_t type = 0;  // CLAP_EVENT_PARAM_GESTURE_BEGIN / _END or CLAP_EVENT_PARAM_VALUE
    clap_id param = 0;
    double value = 0.0;  // plain value
};

// The parameters a host sees: the exposed ones in index order. The CLAP id of
// each is its index.
const std::vector<int>& exposedParameters();
bool isExposed(clap_id id);

class ClapKovalith final : public IEffectListener, public IEditController, public ITimeInfoSource {
public:
    // `plugin` is the CLAP object the entry filled in; its plugin_data is set here.
    ClapKovalith(const clap_host_t* host, clap_plugin_t plugin);
    ~ClapKovalith() override;
    ClapKovalith(const ClapKovalith&) = delete;
    ClapKovalith& operator=(const ClapKovalith&) = delete;

    const clap_plugin_t* clapPlugin() const { return &plugin_; }

    // ---- clap_plugin ----
    bool init();
    bool activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames);
    void deactivate();
    void reset();
    clap_process_status process(const clap_process_t* process);
    void onMainThread();

    // ---- params ----
    uint32_t paramCount() const;
    bool paramInfo(uint32_t index, clap_param_info_t* info) const;
    bool paramValue(clap_id id, double* value) const;
    bool valueToText(clap_id id, double value, char* display, uint32_t size) const;
    bool textToValue(clap_id id, const char* display, double* value) const;
    void flush(const clap_input_events_t* in, const clap_output_events_t* out);

    // ---- state, latency, tail ----
    bool saveState(const clap_ostream_t* stream) const;
    bool loadState(const clap_istream_t* stream);
    uint32_t tail() const;

    // ---- gui ----
    static bool isApiSupported(const char* api, bool isFloating);
    bool guiCreate(const char* api, bool isFloating);
    void guiDestroy();
    bool guiSize(uint32_t* width, uint32_t* height) const;
    // The host's scale factor for the window; a change while open asks the host to resize.
    bool guiSetScale(double scale);
    bool guiSetParent(const clap_window_t* window);
    bool guiShow();
    bool guiHide();
    void onTimer(clap_id timer);

    // ---- IEffectListener ----
    void parameterChanged(int index, float value) override;
    void parameterSetByController(int index, float value) override;

    // ---- IEditController (the editor, on the main thread) ----
    float parameterValue(int index) override;
    float syncedValue(int index) override;
    DisplayContext displayContext() override { return effect_.displayContext(); }
    void beginEdit(int index) override;
    void performEdit(int index, float value) override;
    void endEdit(int index) override;
    void learnCommand(int index, float value) override;

    // ---- ITimeInfoSource (audio thread, inside process) ----
    bool readHostTime(HostTimeInfo& info) override;

private:
    void handleInputEvents(const clap_input_events_t* in);
    void handleEvent(const clap_event_header_t* event);
    void sendEditEvents(const clap_output_events_t* out);
    void queueEdit(uint16_t type, int index, float stored);
    void requestFlush();
    void requestCallback();
    void noteTailChange(float feedback);

    clap_plugin_t plugin_;
    const clap_host_t* host_;
    const clap_host_params_t* hostParams_ = nullptr;
    const clap_host_state_t* hostState_ = nullptr;
    const clap_host_timer_support_t* hostTimers_ = nullptr;
    const HostTail* hostTail_ = nullptr;
    const clap_host_gui_t* hostGui_ = nullptr;

    KovalithEffect effect_;
    std::vector<float> silence_;  // the input of a host that gives none
    uint32_t maxFrames_ = 0;

    // Audio thread, during process or flush: where controller changes go.
    const clap_output_events_t* out_ = nullptr;
    const clap_event_transport_t* transport_ = nullptr;
    CChangeQueue<EditEvent> edits_{1024};

    // Work for the main thread, asked for from any thread.
    std::atomic<bool> rescanPending_{false};
    std::atomic<bool> tailPending_{false};
    std::atomic<bool> dirtyPending_{false};
    std::atomic<bool> tailInfinite_{false};

    // The editor object lives from the first gui create to destroy: the effect
    // reaches it from any thread; gui destroy only closes its window.
    std::atomic<KovalithEditor*> editor_{nullptr};
    bool guiCreated_ = false;
    void* parentWindow_ = nullptr;
    clap_id timer_ = CLAP_INVALID_ID;
};

}  // namespace clapshell
}  // namespace kovalith
