#include "tests/clap/ClapHost.h"

#include "clap/ext/thread-check.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>

namespace claptest {

// ---- module ---------------------------------------------------------------------

namespace {

#ifdef _WIN32
void* openLibrary(const std::string& path, std::string* error) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(library);
}
void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* openLibrary(const std::string& path, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) *error = std::string("dlopen: ") + dlerror();
    return library;
}
void* findSymbol(void* library, const char* name) { return dlsym(library, name); }
void closeLibrary(void* library) { dlclose(library); }
#endif

}  // namespace

std::unique_ptr<ClapModule> ClapModule::open(const std::string& path, std::string* error) {
    std::unique_ptr<ClapModule> module(new ClapModule);
    module->path_ = path;
    module->library_ = openLibrary(path, error);
    if (!module->library_) return nullptr;
    module->entry_ = static_cast<const clap_plugin_entry_t*>(findSymbol(module->library_, "clap_entry"));
    if (!module->entry_) {
        *error = "no clap_entry";
        return nullptr;
    }
    if (!clap_version_is_compatible(module->entry_->clap_version)) {
        *error = "incompatible CLAP version";
        module->entry_ = nullptr;
        return nullptr;
    }
    if (!module->entry_->init(path.c_str())) {
        *error = "clap_entry.init refused";
        module->entry_ = nullptr;
        return nullptr;
    }
    return module;
}

ClapModule::~ClapModule() {
    if (entry_) entry_->deinit();
    if (library_) closeLibrary(library_);
}

const clap_plugin_factory_t* ClapModule::factory() const {
    return static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

// ---- events ---------------------------------------------------------------------

EventList::EventList() {
    input_.ctx = this;
    input_.size = [](const clap_input_events_t* list) {
        return static_cast<uint32_t>(static_cast<const EventList*>(list->ctx)->events_.size());
    };
    input_.get = [](const clap_input_events_t* list, uint32_t index) -> const clap_event_header_t* {
        const auto* self = static_cast<const EventList*>(list->ctx);
        return index < self->events_.size() ? &self->at(index) : nullptr;
    };
    output_.ctx = this;
    output_.try_push = [](const clap_output_events_t* list, const clap_event_header_t* event) {
        if (!event || event->size < sizeof(clap_event_header_t)) return false;
        static_cast<EventList*>(list->ctx)->add(*event);
        return true;
    };
}

void EventList::add(const clap_event_header_t& event) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&event);
    std::vector<uint8_t> copy(bytes, bytes + event.size);
    // Keep time order; equal times stay in the order they came.
    auto at = std::upper_bound(events_.begin(), events_.end(), event.time,
                               [](uint32_t time, const std::vector<uint8_t>& e) {
                                   return time < reinterpret_cast<const clap_event_header_t*>(e.data())->time;
                               });
    events_.insert(at, std::move(copy));
}

void EventList::addParamValue(clap_id id, double value, uint32_t time) {
    clap_event_param_value_t e{};
    e.header = {sizeof(e), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = -1;
    e.channel = -1;
    e.key = -1;
    e.value = value;
    add(e.header);
}

void EventList::addMidi(uint8_t status, uint8_t data1, uint8_t data2, uint32_t time, uint16_t port) {
    clap_event_midi_t e{};
    e.header = {sizeof(e), time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    e.port_index = port;
    e.data[0] = status;
    e.data[1] = data1;
    e.data[2] = data2;
    add(e.header);
}

const clap_event_header_t& EventList::at(size_t i) const {
    return *reinterpret_cast<const clap_event_header_t*>(events_[i].data());
}

std::vector<const clap_event_header_t*> EventList::ofType(uint16_t type) const {
    std::vector<const clap_event_header_t*> out;
    for (size_t i = 0; i < events_.size(); ++i)
        if (at(i).space_id == CLAP_CORE_EVENT_SPACE_ID && at(i).type == type) out.push_back(&at(i));
    return out;
}

clap_event_transport_t makeTransport(double tempo, clap_beattime beats, bool playing) {
    clap_event_transport_t t{};
    t.header = {sizeof(t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
    t.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE;
    if (playing) t.flags |= CLAP_TRANSPORT_IS_PLAYING;
    t.tempo = tempo;
    t.song_pos_beats = beats;
    t.bar_start = beats / (4 * CLAP_BEATTIME_FACTOR) * (4 * CLAP_BEATTIME_FACTOR);
    t.bar_number = static_cast<int32_t>(beats / (4 * CLAP_BEATTIME_FACTOR));
    t.tsig_num = 4;
    t.tsig_denom = 4;
    return t;
}

clap_beattime advanceBeats(const clap_event_transport_t& transport, uint32_t frames, double sampleRate) {
    const double beats = frames * transport.tempo / (60.0 * sampleRate);
    return transport.song_pos_beats + static_cast<clap_beattime>(std::llround(beats * CLAP_BEATTIME_FACTOR));
}

// ---- host -----------------------------------------------------------------------

namespace {

const clap_host_params_t kHostParams = {
    [](const clap_host_t* h, clap_param_rescan_flags flags) {
        auto& r = static_cast<ClapInstance*>(h->host_data)->record();
        ++r.rescan;
        r.rescanFlags |= flags;
    },
    [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
    [](const clap_host_t* h) { ++static_cast<ClapInstance*>(h->host_data)->record().requestFlush; },
};

const clap_host_state_t kHostState = {
    [](const clap_host_t* h) { ++static_cast<ClapInstance*>(h->host_data)->record().markDirty; },
};

const clap_host_latency_t kHostLatency = {
    [](const clap_host_t* h) { ++static_cast<ClapInstance*>(h->host_data)->record().latencyChanged; },
};

struct HostTail {
    void (*changed)(const clap_host_t* host);
};
const HostTail kHostTail = {
    [](const clap_host_t* h) { ++static_cast<ClapInstance*>(h->host_data)->record().tailChanged; },
};

const clap_host_thread_check_t kHostThreadCheck = {
    [](const clap_host_t* h) { return !static_cast<ClapInstance*>(h->host_data)->inAudioThread(); },
    [](const clap_host_t* h) { return static_cast<ClapInstance*>(h->host_data)->inAudioThread(); },
};

const clap_host_gui_t kHostGui = {
    [](const clap_host_t*) {},
    [](const clap_host_t* h, uint32_t width, uint32_t height) {
        HostRecord& record = static_cast<ClapInstance*>(h->host_data)->record();
        record.resizeWidth = width;
        record.resizeHeight = height;
        ++record.resizeRequests;
        return true;
    },
    [](const clap_host_t*) { return false; },
    [](const clap_host_t*) { return false; },
    [](const clap_host_t* h, bool) { ++static_cast<ClapInstance*>(h->host_data)->record().guiClosed; },
};

const clap_host_note_ports_t kHostNotePorts = {
    [](const clap_host_t*) -> uint32_t { return CLAP_NOTE_DIALECT_MIDI | CLAP_NOTE_DIALECT_CLAP; },
    [](const clap_host_t*, uint32_t) {},
};

const clap_host_timer_support_t kHostTimers = {
    [](const clap_host_t* h, uint32_t period, clap_id* id) {
        return static_cast<ClapInstance*>(h->host_data)->registerTimer(period, id);
    },
    [](const clap_host_t* h, clap_id id) { return static_cast<ClapInstance*>(h->host_data)->unregisterTimer(id); },
};

// Streams over a byte vector, in pieces of at most `chunk` bytes.
struct OutStream {
    std::vector<uint8_t> bytes;
    size_t chunk = 0;
};
struct InStream {
    const std::vector<uint8_t>* bytes = nullptr;
    size_t position = 0;
    size_t chunk = 0;
    long failAt = -1;
};

}  // namespace

const void* ClapInstance::hostExtension(const clap_host_t* host, const char* id) {
    const auto* self = static_cast<const ClapInstance*>(host->host_data);
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kHostParams;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &kHostState;
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kHostLatency;
    if (!std::strcmp(id, kExtTail)) return &kHostTail;
    if (!std::strcmp(id, CLAP_EXT_THREAD_CHECK)) return &kHostThreadCheck;
    if (!std::strcmp(id, CLAP_EXT_GUI)) return &kHostGui;
    if (!std::strcmp(id, CLAP_EXT_NOTE_PORTS)) return &kHostNotePorts;
    if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) && self->withTimers_) return &kHostTimers;
    return nullptr;
}

std::unique_ptr<ClapInstance> ClapInstance::create(ClapModule& module, const char* id, std::string* error,
                                                   bool withTimers) {
    std::unique_ptr<ClapInstance> instance(new ClapInstance);
    instance->withTimers_ = withTimers;
    clap_host_t& host = instance->host_;
    host.clap_version = CLAP_VERSION;
    host.host_data = instance.get();
    host.name = "kovalith-clap-test";
    host.vendor = "kovalith.audio";
    host.url = "";
    host.version = "1";
    host.get_extension = &ClapInstance::hostExtension;
    host.request_restart = [](const clap_host_t* h) {
        ++static_cast<ClapInstance*>(h->host_data)->record_.requestRestart;
    };
    host.request_process = [](const clap_host_t* h) {
        ++static_cast<ClapInstance*>(h->host_data)->record_.requestProcess;
    };
    host.request_callback = [](const clap_host_t* h) {
        ++static_cast<ClapInstance*>(h->host_data)->record_.requestCallback;
    };
    const clap_plugin_factory_t* factory = module.factory();
    if (!factory) {
        *error = "no plug-in factory";
        return nullptr;
    }
    instance->plugin_ = factory->create_plugin(factory, &host, id);
    if (!instance->plugin_) {
        *error = std::string("create_plugin refused ") + (id ? id : "(null)");
        return nullptr;
    }
    if (!instance->plugin_->init(instance->plugin_)) {
        instance->plugin_->destroy(instance->plugin_);
        instance->plugin_ = nullptr;
        *error = "init refused";
        return nullptr;
    }
    instance->params_ = static_cast<const clap_plugin_params_t*>(instance->extension(CLAP_EXT_PARAMS));
    instance->state_ = static_cast<const clap_plugin_state_t*>(instance->extension(CLAP_EXT_STATE));
    instance->gui_ = static_cast<const clap_plugin_gui_t*>(instance->extension(CLAP_EXT_GUI));
    return instance;
}

ClapInstance::~ClapInstance() {
    if (!plugin_) return;
    deactivate();
    plugin_->destroy(plugin_);
}

bool ClapInstance::activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames) {
    if (active_) deactivate();
    active_ = plugin_->activate(plugin_, sampleRate, minFrames, maxFrames);
    if (active_) sampleRate_ = sampleRate;
    return active_;
}

void ClapInstance::deactivate() {
    if (!active_) return;
    if (processing_) plugin_->stop_processing(plugin_);
    processing_ = false;
    plugin_->deactivate(plugin_);
    active_ = false;
}

clap_process_status ClapInstance::process(const float* const* in, float* const* out, uint32_t frames,
                                          const EventList* events, EventList* outEvents,
                                          const clap_event_transport_t* transport) {
    static const EventList kNoEvents;
    EventList discard;
    if (!processing_) processing_ = plugin_->start_processing(plugin_);
    clap_audio_buffer_t input{};
    input.data32 = const_cast<float**>(in);
    input.channel_count = 2;
    clap_audio_buffer_t output{};
    output.data32 = const_cast<float**>(out);
    output.channel_count = 2;
    clap_process_t p{};
    p.steady_time = -1;
    p.frames_count = frames;
    p.transport = transport;
    p.audio_inputs = &input;
    p.audio_outputs = &output;
    p.audio_inputs_count = 1;
    p.audio_outputs_count = 1;
    p.in_events = (events ? events : &kNoEvents)->input();
    p.out_events = (outEvents ? outEvents : &discard)->output();
    inProcess_ = true;
    const clap_process_status status = plugin_->process(plugin_, &p);
    inProcess_ = false;
    return status;
}

void ClapInstance::flush(const EventList& events, EventList& outEvents) {
    params_->flush(plugin_, events.input(), outEvents.output());
}

uint32_t ClapInstance::paramCount() const { return params_ ? params_->count(plugin_) : 0; }

std::optional<clap_param_info_t> ClapInstance::paramInfo(uint32_t index) const {
    clap_param_info_t info{};
    if (!params_ || !params_->get_info(plugin_, index, &info)) return std::nullopt;
    return info;
}

std::optional<double> ClapInstance::paramValue(clap_id id) const {
    double value = 0.0;
    if (!params_ || !params_->get_value(plugin_, id, &value)) return std::nullopt;
    return value;
}

std::optional<std::string> ClapInstance::paramText(clap_id id, double value) const {
    char text[CLAP_NAME_SIZE];
    std::memset(text, 'x', sizeof text);
    if (!params_ || !params_->value_to_text(plugin_, id, value, text, sizeof text)) return std::nullopt;
    if (!std::memchr(text, 0, sizeof text)) return std::string("<unterminated>");
    return std::string(text);
}

std::optional<double> ClapInstance::paramFromText(clap_id id, const std::string& text) const {
    double value = 0.0;
    if (!params_ || !params_->text_to_value(plugin_, id, text.c_str(), &value)) return std::nullopt;
    return value;
}

std::optional<std::vector<uint8_t>> ClapInstance::saveState(size_t chunk) const {
    OutStream sink;
    sink.chunk = chunk;
    clap_ostream_t stream{&sink, [](const clap_ostream_t* s, const void* buffer, uint64_t size) -> int64_t {
                              auto* out = static_cast<OutStream*>(s->ctx);
                              const size_t n = out->chunk ? std::min<uint64_t>(size, out->chunk) : size;
                              const auto* bytes = static_cast<const uint8_t*>(buffer);
                              out->bytes.insert(out->bytes.end(), bytes, bytes + n);
                              return static_cast<int64_t>(n);
                          }};
    if (!state_ || !state_->save(plugin_, &stream)) return std::nullopt;
    return sink.bytes;
}

bool ClapInstance::loadState(const std::vector<uint8_t>& bytes, size_t chunk, long failAt) const {
    InStream source;
    source.bytes = &bytes;
    source.chunk = chunk;
    source.failAt = failAt;
    clap_istream_t stream{&source, [](const clap_istream_t* s, void* buffer, uint64_t size) -> int64_t {
                              auto* in = static_cast<InStream*>(s->ctx);
                              if (in->failAt >= 0 && in->position >= static_cast<size_t>(in->failAt)) return -1;
                              size_t n = std::min<uint64_t>(size, in->bytes->size() - in->position);
                              if (in->chunk) n = std::min(n, in->chunk);
                              if (in->failAt >= 0) n = std::min(n, static_cast<size_t>(in->failAt) - in->position);
                              if (n > 0) std::memcpy(buffer, in->bytes->data() + in->position, n);
                              in->position += n;
                              return static_cast<int64_t>(n);
                          }};
    return state_ && state_->load(plugin_, &stream);
}

std::vector<clap_id> ClapInstance::timers() const {
    std::vector<clap_id> ids;
    for (const Timer& t : timers_) ids.push_back(t.id);
    return ids;
}

uint32_t ClapInstance::timerPeriod(clap_id id) const {
    for (const Timer& t : timers_)
        if (t.id == id) return t.period;
    return 0;
}

bool ClapInstance::registerTimer(uint32_t periodMs, clap_id* id) {
    if (!id) return false;
    *id = nextTimer_++;
    timers_.push_back(Timer{*id, periodMs});
    return true;
}

bool ClapInstance::unregisterTimer(clap_id id) {
    const auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    return true;
}

void ClapInstance::fireTimers() {
    const auto* support = static_cast<const clap_plugin_timer_support_t*>(extension(CLAP_EXT_TIMER_SUPPORT));
    if (!support) return;
    for (clap_id id : timers()) support->on_timer(plugin_, id);
}

void ClapInstance::runCallback() {
    if (record_.requestCallback.exchange(0) > 0) plugin_->on_main_thread(plugin_);
}

void ClapInstance::clearRecord() {
    record_.requestFlush = 0;
    record_.requestCallback = 0;
    record_.requestProcess = 0;
    record_.requestRestart = 0;
    record_.rescan = 0;
    record_.rescanFlags = 0;
    record_.markDirty = 0;
    record_.tailChanged = 0;
    record_.latencyChanged = 0;
    record_.guiClosed = 0;
}

std::vector<std::vector<float>> renderClap(ClapInstance& instance, const std::vector<std::vector<float>>& input,
                                           uint32_t block, std::optional<clap_event_transport_t> transport,
                                           size_t tailFrames) {
    const size_t inputFrames = input[0].size();
    const size_t total = inputFrames + tailFrames;
    std::vector<std::vector<float>> output(2, std::vector<float>(total));
    std::vector<float> inL(block), inR(block);
    for (size_t done = 0; done < total;) {
        const size_t end = done < inputFrames ? std::min<size_t>(done + block, inputFrames)
                                              : std::min<size_t>(done + block, total);
        const uint32_t n = static_cast<uint32_t>(end - done);
        for (uint32_t k = 0; k < n; ++k) {
            inL[k] = done + k < inputFrames ? input[0][done + k] : 0.0f;
            inR[k] = done + k < inputFrames ? input[1][done + k] : 0.0f;
        }
        const float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {output[0].data() + done, output[1].data() + done};
        instance.process(in, out, n, nullptr, nullptr, transport ? &*transport : nullptr);
        if (transport) *transport = makeTransport(transport->tempo, advanceBeats(*transport, n, instance.sampleRate()));
        done = end;
    }
    return output;
}

}  // namespace claptest
