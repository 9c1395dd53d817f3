#include "clap/ClapKovalith.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effect/Parameters.h"
#include "effect/ParameterText.h"

#ifdef KOVALITH_CLAP_EDITOR
#include "editor/KovalithEditor.h"
#endif

namespace kovalith {
namespace clapshell {

namespace {

constexpr int kFeedbackParam = 17;
constexpr int kFirstLearnCommand = kNumParams + 1;

bool isStepped(int index) { return describeParameter(index).items > 0; }

void copyText(char* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::strncpy(out, text, size - 1);
    out[size - 1] = '\0';
}

}  // namespace

const std::vector<int>& exposedParameters() {
    static const std::vector<int> list = [] {
        std::vector<int> indices;
        for (int i = 0; i < kNumParams; ++i)
            if (describeParameter(i).exposed) indices.push_back(i);
        return indices;
    }();
    return list;
}

bool isExposed(clap_id id) {
    return id < static_cast<clap_id>(kNumParams) && describeParameter(static_cast<int>(id)).exposed;
}

ClapKovalith::ClapKovalith(const clap_host_t* host, clap_plugin_t plugin) : plugin_(plugin), host_(host) {
    plugin_.plugin_data = this;
    tailInfinite_.store(effect_.getParameter(kFeedbackParam) > 0.0f, std::memory_order_relaxed);
    effect_.setListener(this);
}

ClapKovalith::~ClapKovalith() {
    guiDestroy();
    effect_.setListener(nullptr);
#ifdef KOVALITH_CLAP_EDITOR
    delete editor_.exchange(nullptr);
#endif
}

// ---- plug-in ----------------------------------------------------------------------

bool ClapKovalith::init() {
    hostParams_ = static_cast<const clap_host_params_t*>(host_->get_extension(host_, CLAP_EXT_PARAMS));
    hostState_ = static_cast<const clap_host_state_t*>(host_->get_extension(host_, CLAP_EXT_STATE));
    hostTimers_ = static_cast<const clap_host_timer_support_t*>(host_->get_extension(host_, CLAP_EXT_TIMER_SUPPORT));
    hostTail_ = static_cast<const HostTail*>(host_->get_extension(host_, kExtTail));
    hostGui_ = static_cast<const clap_host_gui_t*>(host_->get_extension(host_, CLAP_EXT_GUI));
    // A host's table with holes is treated as no table at all.
    if (hostParams_ && (!hostParams_->rescan || !hostParams_->request_flush)) hostParams_ = nullptr;
    if (hostState_ && !hostState_->mark_dirty) hostState_ = nullptr;
    if (hostTimers_ && (!hostTimers_->register_timer || !hostTimers_->unregister_timer)) hostTimers_ = nullptr;
    if (hostTail_ && !hostTail_->changed) hostTail_ = nullptr;
    if (hostGui_ && !hostGui_->request_resize) hostGui_ = nullptr;
    return true;
}

bool ClapKovalith::activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames) {
    (void)minFrames;
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate) || maxFrames == 0) return false;
    silence_.assign(maxFrames, 0.0f);
    maxFrames_ = maxFrames;
    effect_.setSampleRate(static_cast<float>(sampleRate));
    effect_.reset();
    return true;
}

void ClapKovalith::deactivate() {}

void ClapKovalith::reset() { effect_.reset(); }

clap_process_status ClapKovalith::process(const clap_process_t* process) {
    if (!process || process->audio_outputs_count < 1 || !process->audio_outputs) return CLAP_PROCESS_ERROR;
    clap_audio_buffer_t& outBuffer = process->audio_outputs[0];
    if (outBuffer.channel_count < 2 || !outBuffer.data32 || !outBuffer.data32[0] || !outBuffer.data32[1])
        return CLAP_PROCESS_ERROR;
    out_ = process->out_events;
    handleInputEvents(process->in_events);
    sendEditEvents(process->out_events);
    out_ = nullptr;

    float* outputs[2] = {outBuffer.data32[0], outBuffer.data32[1]};
    outBuffer.constant_mask = 0;
    const uint32_t frames = process->frames_count;
    const clap_audio_buffer_t* inBuffer = process->audio_inputs_count > 0 ? process->audio_inputs : nullptr;
    const bool hasInput = inBuffer && inBuffer->channel_count >= 2 && inBuffer->data32 && inBuffer->data32[0] &&
                          inBuffer->data32[1];
    transport_ = process->transport;
    if (hasInput) {
        const float* inputs[2] = {inBuffer->data32[0], inBuffer->data32[1]};
        effect_.process(inputs, outputs, static_cast<int>(frames), this);
    } else {
        // No input from the host: silence goes in, so the delay still rings out
        // (in pieces of the buffer's size should the host exceed its own maximum).
        for (uint32_t done = 0; done < frames && maxFrames_ > 0;) {
            const uint32_t n = std::min(frames - done, maxFrames_);
            const float* inputs[2] = {silence_.data(), silence_.data()};
            float* part[2] = {outputs[0] + done, outputs[1] + done};
            effect_.process(inputs, part, static_cast<int>(n), this);
            done += n;
        }
    }
    transport_ = nullptr;
    return CLAP_PROCESS_CONTINUE;
}

void ClapKovalith::handleInputEvents(const clap_input_events_t* in) {
    if (!in || !in->size || !in->get) return;
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) handleEvent(in->get(in, i));
}

void ClapKovalith::handleEvent(const clap_event_header_t* event) {
    if (!event || event->space_id != CLAP_CORE_EVENT_SPACE_ID) return;
    switch (event->type) {
        case CLAP_EVENT_PARAM_VALUE: {
            if (event->size < sizeof(clap_event_param_value_t)) return;
            const auto* e = reinterpret_cast<const clap_event_param_value_t*>(event);
            if (!isExposed(e->param_id) || !std::isfinite(e->value)) return;
            const int index = static_cast<int>(e->param_id);
            effect_.setParameter(index, storedFromPlain(index, static_cast<float>(e->value)));
            break;
        }
        case CLAP_EVENT_MIDI: {
            if (event->size < sizeof(clap_event_midi_t)) return;
            const auto* e = reinterpret_cast<const clap_event_midi_t*>(event);
            if (e->port_index != 0) return;
            const bool wasArmed = effect_.isLearnArmed();
            effect_.handleMidiMessage(e->data[0], e->data[1], e->data[2]);
            // A completed learn changed the bank's bindings: the session must be saved again.
            if (wasArmed && !effect_.isLearnArmed()) {
                dirtyPending_.store(true, std::memory_order_release);
                requestCallback();
            }
            break;
        }
        default:
            break;
    }
}

void ClapKovalith::sendEditEvents(const clap_output_events_t* out) {
    EditEvent edit;
    while (edits_.pop(edit)) {
        if (!out || !out->try_push) continue;
        if (edit.type == CLAP_EVENT_PARAM_VALUE) {
            clap_event_param_value_t e{};
            e.header = {sizeof(e), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_IS_LIVE};
            e.param_id = edit.param;
            e.note_id = -1;
            e.port_index = -1;
            e.channel = -1;
            e.key = -1;
            e.value = edit.value;
            out->try_push(out, &e.header);
        } else {
            clap_event_param_gesture_t e{};
            e.header = {sizeof(e), 0, CLAP_CORE_EVENT_SPACE_ID, edit.type, CLAP_EVENT_IS_LIVE};
            e.param_id = edit.param;
            out->try_push(out, &e.header);
        }
    }
}

void ClapKovalith::onMainThread() {
    if (rescanPending_.exchange(false, std::memory_order_acq_rel) && hostParams_)
        hostParams_->rescan(host_, CLAP_PARAM_RESCAN_VALUES | CLAP_PARAM_RESCAN_TEXT);
    if (tailPending_.exchange(false, std::memory_order_acq_rel) && hostTail_) hostTail_->changed(host_);
    if (dirtyPending_.exchange(false, std::memory_order_acq_rel) && hostState_) hostState_->mark_dirty(host_);
}

void ClapKovalith::requestCallback() {
    if (host_->request_callback) host_->request_callback(host_);
}

void ClapKovalith::requestFlush() {
    if (hostParams_)
        hostParams_->request_flush(host_);
    else if (host_->request_process)
        host_->request_process(host_);
}

// ---- params -----------------------------------------------------------------------

uint32_t ClapKovalith::paramCount() const { return static_cast<uint32_t>(exposedParameters().size()); }

bool ClapKovalith::paramInfo(uint32_t index, clap_param_info_t* info) const {
    const std::vector<int>& list = exposedParameters();
    if (!info || index >= list.size()) return false;
    const int param = list[index];
    const ParameterDescription& d = describeParameter(param);
    *info = clap_param_info_t{};
    info->id = static_cast<clap_id>(param);
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    if (isStepped(param)) info->flags |= CLAP_PARAM_IS_STEPPED | kParamIsEnum;
    info->cookie = nullptr;
    copyText(info->name, sizeof info->name, d.name);
    copyText(info->module, sizeof info->module, "");
    info->min_value = 0.0;
    info->max_value = plainMaximum(param);
    info->default_value = plainDefault(param);
    return true;
}

bool ClapKovalith::paramValue(clap_id id, double* value) const {
    if (!value || !isExposed(id)) return false;
    const int index = static_cast<int>(id);
    *value = plainFromStored(index, effect_.getParameter(index));
    return true;
}

bool ClapKovalith::valueToText(clap_id id, double value, char* display, uint32_t size) const {
    if (!display || size == 0 || !isExposed(id) || !std::isfinite(value)) return false;
    const int index = static_cast<int>(id);
    formatParameter(index, storedFromPlain(index, static_cast<float>(value)), effect_.displayContext(), display, size);
    return true;
}

bool ClapKovalith::textToValue(clap_id id, const char* display, double* value) const {
    if (!display || !value || !isExposed(id)) return false;
    const int index = static_cast<int>(id);
    const std::optional<float> stored = parseParameter(index, display, effect_.displayContext());
    if (!stored) return false;
    *value = plainFromStored(index, *stored);
    return true;
}

void ClapKovalith::flush(const clap_input_events_t* in, const clap_output_events_t* out) {
    out_ = out;
    handleInputEvents(in);
    sendEditEvents(out);
    out_ = nullptr;
    // While inactive nothing replays the queue: the engine catches up at the next block.
}

// ---- state, tail ------------------------------------------------------------------

bool ClapKovalith::saveState(const clap_ostream_t* stream) const {
    if (!stream || !stream->write) return false;
    const std::vector<uint8_t> bytes = effect_.saveState();
    size_t written = 0;
    while (written < bytes.size()) {
        const int64_t n = stream->write(stream, bytes.data() + written, bytes.size() - written);
        if (n <= 0 || static_cast<uint64_t>(n) > bytes.size() - written) return false;
        written += static_cast<size_t>(n);
    }
    return !bytes.empty();
}

bool ClapKovalith::loadState(const clap_istream_t* stream) {
    if (!stream || !stream->read) return false;
    // One byte more than the largest state we write: a longer stream is not ours.
    std::vector<uint8_t> bytes(kStateSize + 1);
    size_t size = 0;
    while (size < bytes.size()) {
        const int64_t n = stream->read(stream, bytes.data() + size, bytes.size() - size);
        if (n == 0) break;
        if (n < 0 || static_cast<uint64_t>(n) > bytes.size() - size) return false;
        size += static_cast<size_t>(n);
    }
    if (size > kStateSize || !effect_.loadState(bytes.data(), size)) return false;
    // The host is told once its own call has returned.
    rescanPending_.store(true, std::memory_order_release);
    requestCallback();
    return true;
}

uint32_t ClapKovalith::tail() const {
    if (effect_.getParameter(kFeedbackParam) > 0.0f) return kInfiniteTail;
    return static_cast<uint32_t>(std::ceil(kDryTailSeconds * effect_.sampleRate()));
}

void ClapKovalith::noteTailChange(float feedback) {
    const bool infinite = feedback > 0.0f;
    if (tailInfinite_.exchange(infinite, std::memory_order_acq_rel) == infinite) return;
    tailPending_.store(true, std::memory_order_release);
    requestCallback();
}

// ---- listener ---------------------------------------------------------------------

void ClapKovalith::parameterChanged(int index, float value) {
    if (index == kFeedbackParam) noteTailChange(value);
#ifdef KOVALITH_CLAP_EDITOR
    if (KovalithEditor* editor = editor_.load(std::memory_order_acquire)) editor->setParameter(index, value);
#else
    (void)value;
#endif
}

void ClapKovalith::parameterSetByController(int index, float value) {
    if (!out_ || !out_->try_push || !isExposed(static_cast<clap_id>(index))) return;
    // Not automation: the host may record the controller, not this change.
    clap_event_param_value_t e{};
    e.header = {sizeof(e), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_DONT_RECORD};
    e.param_id = static_cast<clap_id>(index);
    e.note_id = -1;
    e.port_index = -1;
    e.channel = -1;
    e.key = -1;
    e.value = plainFromStored(index, value);
    out_->try_push(out_, &e.header);
}

// ---- edit controller --------------------------------------------------------------

float ClapKovalith::parameterValue(int index) { return effect_.getParameter(index); }

float ClapKovalith::syncedValue(int index) { return effect_.getSyncedValue(index); }

void ClapKovalith::queueEdit(uint16_t type, int index, float stored) {
    if (!isExposed(static_cast<clap_id>(index))) return;
    EditEvent edit;
    edit.type = type;
    edit.param = static_cast<clap_id>(index);
    edit.value = plainFromStored(index, stored);
    // A full queue loses the report, never the edit: the effect already has it.
    edits_.push(edit);
    requestFlush();
}

void ClapKovalith::beginEdit(int index) { queueEdit(CLAP_EVENT_PARAM_GESTURE_BEGIN, index, 0.0f); }

void ClapKovalith::performEdit(int index, float value) {
    if (!isParameterIndex(index)) return;
    effect_.setParameter(index, value);
    queueEdit(CLAP_EVENT_PARAM_VALUE, index, effect_.getParameter(index));
}

void ClapKovalith::endEdit(int index) { queueEdit(CLAP_EVENT_PARAM_GESTURE_END, index, 0.0f); }

void ClapKovalith::learnCommand(int index, float value) {
    if (!isParameterIndex(index)) return;
    effect_.setParameter(kFirstLearnCommand + index, value);
    // A forget changes the bank's bindings at once; a learn does when its controller arrives.
    if (hostState_) hostState_->mark_dirty(host_);
}

bool ClapKovalith::readHostTime(HostTimeInfo& info) {
    const clap_event_transport_t* t = transport_;
    if (!t) return false;
    info = HostTimeInfo{};
    info.tempo = t->tempo;
    info.ppqPosition = static_cast<double>(t->song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR);
    info.barStartPosition = static_cast<double>(t->bar_start) / static_cast<double>(CLAP_BEATTIME_FACTOR);
    info.timeSigNumerator = t->tsig_num;
    info.timeSigDenominator = t->tsig_denom;
    info.tempoValid = (t->flags & CLAP_TRANSPORT_HAS_TEMPO) != 0;
    info.ppqValid = (t->flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) != 0;
    info.barsValid = info.ppqValid;
    info.timeSigValid = (t->flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) != 0;
    return true;
}

// ---- gui --------------------------------------------------------------------------

bool ClapKovalith::isApiSupported(const char* api, bool isFloating) {
#ifdef KOVALITH_CLAP_EDITOR
    return api && !isFloating && std::strcmp(api, kWindowApi) == 0;
#else
    (void)api;
    (void)isFloating;
    return false;
#endif
}

bool ClapKovalith::guiCreate(const char* api, bool isFloating) {
#ifdef KOVALITH_CLAP_EDITOR
    if (guiCreated_ || !isApiSupported(api, isFloating)) return false;
#ifndef _WIN32
    // On X11 the window redraws and takes input only from idle calls, which
    // need the host's timer.
    if (!hostTimers_ || !hostTimers_->register_timer(host_, kEditorTimerMs, &timer_)) {
        timer_ = CLAP_INVALID_ID;
        return false;
    }
#else
    if (hostTimers_ && !hostTimers_->register_timer(host_, kEditorTimerMs, &timer_)) timer_ = CLAP_INVALID_ID;
#endif
    if (!editor_.load(std::memory_order_relaxed)) {
        auto* editor = new KovalithEditor(this);
        editor->setResizeRequest([this](int width, int height) {
            return hostGui_ && width > 0 && height > 0 &&
                   hostGui_->request_resize(host_, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
        });
        editor_.store(editor, std::memory_order_release);
    }
    guiCreated_ = true;
    parentWindow_ = nullptr;
    return true;
#else
    (void)api;
    (void)isFloating;
    return false;
#endif
}

void ClapKovalith::guiDestroy() {
    if (!guiCreated_) return;
#ifdef KOVALITH_CLAP_EDITOR
    if (KovalithEditor* editor = editor_.load(std::memory_order_relaxed)) editor->close();
#endif
    if (timer_ != CLAP_INVALID_ID && hostTimers_) hostTimers_->unregister_timer(host_, timer_);
    timer_ = CLAP_INVALID_ID;
    guiCreated_ = false;
    parentWindow_ = nullptr;
}

bool ClapKovalith::guiSize(uint32_t* width, uint32_t* height) const {
    if (!width || !height) return false;
#ifdef KOVALITH_CLAP_EDITOR
    KovalithEditor* editor = editor_.load(std::memory_order_relaxed);
    if (!guiCreated_ || !editor) return false;
    // The size at the scale of now: the user's choice, the host's factor, the system's.
    editor->refreshScale();
    *width = static_cast<uint32_t>(editor->width());
    *height = static_cast<uint32_t>(editor->height());
    return true;
#else
    return false;
#endif
}

bool ClapKovalith::guiSetScale(double scale) {
#ifdef KOVALITH_CLAP_EDITOR
    KovalithEditor* editor = editor_.load(std::memory_order_relaxed);
    if (!guiCreated_ || !editor || !std::isfinite(scale) || scale <= 0.0) return false;
    editor->setHostScale(scale);
    return true;
#else
    (void)scale;
    return false;
#endif
}

bool ClapKovalith::guiSetParent(const clap_window_t* window) {
#ifdef KOVALITH_CLAP_EDITOR
    KovalithEditor* editor = editor_.load(std::memory_order_relaxed);
    if (!guiCreated_ || !editor || !window || !window->api || std::strcmp(window->api, kWindowApi) != 0) return false;
#ifdef _WIN32
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    if (!parent) return false;
    editor->close();
    parentWindow_ = parent;
    return editor->open(parent);
#else
    (void)window;
    return false;
#endif
}

bool ClapKovalith::guiShow() {
#ifdef KOVALITH_CLAP_EDITOR
    KovalithEditor* editor = editor_.load(std::memory_order_relaxed);
    if (!guiCreated_ || !editor || !parentWindow_) return false;
    // Hiding closed the window; showing opens it again in the same parent.
    if (!editor->isOpen()) editor->open(parentWindow_);
    return editor->isOpen();
#else
    return false;
#endif
}

bool ClapKovalith::guiHide() {
#ifdef KOVALITH_CLAP_EDITOR
    KovalithEditor* editor = editor_.load(std::memory_order_relaxed);
    if (!guiCreated_ || !editor) return false;
    editor->close();
    return true;
#else
    return false;
#endif
}

void ClapKovalith::onTimer(clap_id timer) {
#ifdef KOVALITH_CLAP_EDITOR
    if (timer != timer_ || timer_ == CLAP_INVALID_ID) return;
    if (KovalithEditor* editor = editor_.load(std::memory_order_relaxed))
        if (editor->isOpen()) editor->idle();
#else
    (void)timer;
#endif
}

}  // namespace clapshell
}  // namespace kovalith
