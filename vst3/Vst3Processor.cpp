#include "vst3/Vst3Processor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vst3/Vst3Ids.h"
#include "vst3/Vst3Link.h"
#include "vst3/Vst3Parameters.h"
#include "vst3/Vst3Stream.h"
#include "vst3/Vst3Strings.h"

namespace kovalith::vst3 {
namespace {

using P = Vst3Processor;

constexpr v3_component_cpp kComponentTable{
    unknownTable<P>(),
    {Thunk<&P::initialize>::call, Thunk<&P::terminate>::call},
    {Thunk<&P::getControllerClassId>::call, Thunk<&P::setIoMode>::call, Thunk<&P::getBusCount>::call,
     Thunk<&P::getBusInfo>::call, Thunk<&P::getRoutingInfo>::call, Thunk<&P::activateBus>::call,
     Thunk<&P::setActive>::call, Thunk<&P::setState>::call, Thunk<&P::getState>::call}};

constexpr v3_audio_processor_cpp kProcessorTable{
    unknownTable<P>(),
    {Thunk<&P::setBusArrangements>::call, Thunk<&P::getBusArrangement>::call,
     Thunk<&P::canProcessSampleSize>::call, Thunk<&P::getLatencySamples>::call,
     Thunk<&P::setupProcessing>::call, Thunk<&P::setProcessing>::call, Thunk<&P::process>::call,
     Thunk<&P::getTailSamples>::call}};

constexpr v3_connection_point_cpp kConnectionTable{
    unknownTable<P>(), {Thunk<&P::connect>::call, Thunk<&P::disconnect>::call, Thunk<&P::notify>::call}};

constexpr v3_process_context_requirements_cpp kRequirementsTable{
    unknownTable<P>(), {Thunk<&P::getProcessContextRequirements>::call}};

constexpr v3_speaker_arrangement kStereo = V3_SPEAKER_L | V3_SPEAKER_R;
constexpr uint32_t kInfiniteTail = 0xFFFFFFFFu;
// Without feedback nothing returns through the delay lines; what rings on is
// the resynthesis filter and the analysis block of up to a second behind it.
constexpr double kTailSeconds = 3.0;
// Silent input for hosts that give no input bus, in blocks of this many frames.
constexpr int kSilenceFrames = 1024;

bool validBus(int32_t mediaType, int32_t direction, int32_t index) {
    if (index != 0) return false;
    if (mediaType == V3_AUDIO) return direction == V3_INPUT || direction == V3_OUTPUT;
    return mediaType == V3_EVENT && direction == V3_INPUT;
}

}  // namespace

Vst3Processor::Vst3Processor()
    : componentFace_{&kComponentTable, this},
      processorFace_{&kProcessorTable, this},
      connectionFace_{&kConnectionTable, this},
      requirementsFace_{&kRequirementsTable, this},
      effectOwner_(std::make_shared<KovalithEffect>()),
      effect_(*effectOwner_),
      silence_(kSilenceFrames, 0.0f) {
    effect_.setListener(this);
    linkNumber_ = publishEffect(effectOwner_);
}

Vst3Processor::~Vst3Processor() {
    withdrawEffect(linkNumber_);
    effect_.setListener(nullptr);
}

v3_result Vst3Processor::queryInterface(const v3_tuid iid, void** out) {
    if (!out) return kInvalidArgument;
    if (offer(this, iid, v3_funknown_iid, componentFace_, out) ||
        offer(this, iid, v3_plugin_base_iid, componentFace_, out) ||
        offer(this, iid, v3_component_iid, componentFace_, out) ||
        offer(this, iid, v3_audio_processor_iid, processorFace_, out) ||
        offer(this, iid, v3_connection_point_iid, connectionFace_, out) ||
        offer(this, iid, v3_process_context_requirements_iid, requirementsFace_, out))
        return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

// ---- IComponent -------------------------------------------------------------------

v3_result Vst3Processor::initialize(v3_funknown**) { return kResultOk; }

v3_result Vst3Processor::terminate() { return kResultOk; }

v3_result Vst3Processor::getControllerClassId(v3_tuid classId) {
    if (!classId) return kInvalidArgument;
    std::memcpy(classId, kControllerClassId, sizeof(v3_tuid));
    return kResultOk;
}

v3_result Vst3Processor::setIoMode(int32_t) { return kResultOk; }

int32_t Vst3Processor::getBusCount(int32_t mediaType, int32_t direction) {
    if (mediaType == V3_AUDIO) return 1;
    return mediaType == V3_EVENT && direction == V3_INPUT ? 1 : 0;
}

v3_result Vst3Processor::getBusInfo(int32_t mediaType, int32_t direction, int32_t index, v3_bus_info* info) {
    if (!info || !validBus(mediaType, direction, index)) return kInvalidArgument;
    *info = v3_bus_info{};
    info->media_type = mediaType;
    info->direction = direction;
    info->channel_count = mediaType == V3_AUDIO ? 2 : 16;
    const char* name = mediaType == V3_EVENT ? "MIDI Input" : direction == V3_INPUT ? "Input" : "Output";
    toUtf16(info->bus_name, 128, name);
    info->bus_type = V3_MAIN;
    info->flags = V3_DEFAULT_ACTIVE;
    return kResultOk;
}

v3_result Vst3Processor::getRoutingInfo(v3_routing_info*, v3_routing_info*) { return kResultFalse; }

v3_result Vst3Processor::activateBus(int32_t mediaType, int32_t direction, int32_t index, v3_bool) {
    return validBus(mediaType, direction, index) ? kResultOk : kInvalidArgument;
}

// Starting afresh, as a VST 2.4 host's resume does: no old signal rings into
// what the host plays next.
v3_result Vst3Processor::setActive(v3_bool state) {
    if (state) effect_.reset();
    return kResultOk;
}

v3_result Vst3Processor::setState(v3_bstream** stream) {
    std::vector<uint8_t> bytes;
    if (!readStream(stream, bytes, kStateSize)) return kResultFalse;
    return effect_.loadState(bytes.data(), bytes.size()) ? kResultOk : kResultFalse;
}

v3_result Vst3Processor::getState(v3_bstream** stream) {
    const std::vector<uint8_t> state = effect_.saveState();
    return !state.empty() && writeStream(stream, state) ? kResultOk : kResultFalse;
}

// ---- IAudioProcessor ----------------------------------------------------------------

v3_result Vst3Processor::setBusArrangements(v3_speaker_arrangement* inputs, int32_t numInputs,
                                            v3_speaker_arrangement* outputs, int32_t numOutputs) {
    const bool stereo = numInputs == 1 && numOutputs == 1 && inputs && outputs && inputs[0] == kStereo &&
                        outputs[0] == kStereo;
    return stereo ? kResultOk : kResultFalse;
}

v3_result Vst3Processor::getBusArrangement(int32_t direction, int32_t index, v3_speaker_arrangement* arrangement) {
    if (!arrangement || index != 0 || (direction != V3_INPUT && direction != V3_OUTPUT)) return kInvalidArgument;
    *arrangement = kStereo;
    return kResultOk;
}

// The engine computes in single precision only.
v3_result Vst3Processor::canProcessSampleSize(int32_t symbolicSize) {
    return symbolicSize == V3_SAMPLE_32 ? kResultOk : kResultFalse;
}

v3_result Vst3Processor::setupProcessing(v3_process_setup* setup) {
    if (!setup || setup->symbolic_sample_size != V3_SAMPLE_32) return kResultFalse;
    effect_.setSampleRate(static_cast<float>(setup->sample_rate));
    return kResultOk;
}

v3_result Vst3Processor::setProcessing(v3_bool state) {
    if (state) effect_.reset();
    return kResultOk;
}

v3_result Vst3Processor::process(v3_process_data* data) {
    if (!data) return kInvalidArgument;
    if (data->symbolic_sample_size != V3_SAMPLE_32) return kResultFalse;
    setByController_.fill(false);
    if (data->input_params) applyParameterChanges(data->input_params);
    // A block of no frames only carries parameter changes.
    if (data->nframes > 0) runBlock(*data);
    // Whoever selected it (the host here, or through the controller), a new
    // program's values are news to the host.
    const int program = effect_.program();
    const bool programChanged = program != reportedProgram_;
    reportedProgram_ = program;
    if (data->output_params) reportChanges(data->output_params, programChanged);
    return kResultOk;
}

// A feedback delay can ring for ever.
uint32_t Vst3Processor::getTailSamples() {
    if (effect_.getParameter(kFeedback) > 0.0f) return kInfiniteTail;
    return static_cast<uint32_t>(std::ceil(kTailSeconds * effect_.sampleRate()));
}

// Each parameter takes the last value its queue gives for the block (the
// engine updates its targets once per block anyway), the program first, so
// that values in the same block apply to the program selected. A hidden
// controller parameter's every point is one control change, in order.
void Vst3Processor::applyParameterChanges(v3_param_changes** changes) {
    const v3_param_changes* list = entries<v3_param_changes>(changes);
    const int32_t count = list->get_param_count(changes);
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < count; ++i) {
            v3_param_value_queue** queue = list->get_param_data(changes, i);
            if (!queue) continue;
            const v3_param_value_queue* q = entries<v3_param_value_queue>(queue);
            const v3_param_id id = q->get_param_id(queue);
            if ((id == kProgramParamId) != (pass == 0)) continue;
            const int32_t points = q->get_point_count(queue);
            const int controller = controllerOfParameter(id);
            for (int32_t p = controller >= 0 ? 0 : std::max(points - 1, 0); p < points; ++p) {
                int32_t offset = 0;
                double value = 0.0;
                if (q->get_point(queue, p, &offset, &value) != kResultOk || std::isnan(value)) continue;
                if (controller >= 0) {
                    const auto data2 = static_cast<unsigned char>(std::lround(std::min(std::max(value, 0.0), 1.0) * 127));
                    effect_.handleMidiMessage(0xB0, static_cast<unsigned char>(controller), data2);
                } else {
                    applyParameter(id, value);
                }
            }
        }
    }
}

// A value that means what the parameter holds already is not set again: a
// host sending back what it read (a menu stored off its items, as some
// factory programs are) leaves the state as it was.
void Vst3Processor::applyParameter(v3_param_id id, double normalized) {
    if (id == kProgramParamId) {
        const int program = programFromNormalized(normalized);
        if (program != effect_.program()) effect_.setProgram(program);
        return;
    }
    if (!isEffectParameter(id)) return;
    const int index = static_cast<int>(id);
    if (vst3NormalizedFromStored(index, effect_.getParameter(index)) == normalized) return;
    effect_.setParameter(index, storedFromVst3Normalized(index, normalized));
}

void Vst3Processor::runBlock(v3_process_data& data) {
    if (data.num_output_buses < 1 || !data.outputs || data.outputs[0].num_channels < 2) return;
    float* const* out = data.outputs[0].channel_buffers_32;
    if (!out || !out[0] || !out[1]) return;
    context_ = data.ctx;
    const bool hasInput = data.num_input_buses >= 1 && data.inputs && data.inputs[0].num_channels >= 2 &&
                          data.inputs[0].channel_buffers_32 && data.inputs[0].channel_buffers_32[0] &&
                          data.inputs[0].channel_buffers_32[1];
    if (hasInput) {
        effect_.process(data.inputs[0].channel_buffers_32, out, data.nframes, this);
    } else {
        const float* silent[2] = {silence_.data(), silence_.data()};
        for (int done = 0; done < data.nframes; done += kSilenceFrames) {
            float* part[2] = {out[0] + done, out[1] + done};
            effect_.process(silent, part, std::min(kSilenceFrames, data.nframes - done), this);
        }
    }
    context_ = nullptr;
    data.outputs[0].channel_silence_bitset = 0;
}

// What the effect changed by itself goes back to the host: the values a
// learned controller set, or after a program change the program and all values.
void Vst3Processor::reportChanges(v3_param_changes** changes, bool programChanged) {
    const v3_param_changes* list = entries<v3_param_changes>(changes);
    auto report = [&](v3_param_id id, double value) {
        int32_t index = 0;
        v3_param_value_queue** queue = list->add_param_data(changes, &id, &index);
        if (!queue) return;
        int32_t point = 0;
        entries<v3_param_value_queue>(queue)->add_point(queue, 0, value, &point);
    };
    if (programChanged) report(kProgramParamId, normalizedFromProgram(effect_.program()));
    for (int i = 0; i < kNumParams; ++i) {
        if ((programChanged && isEffectParameter(static_cast<v3_param_id>(i))) || setByController_[static_cast<std::size_t>(i)])
            report(static_cast<v3_param_id>(i), vst3NormalizedFromStored(i, effect_.getParameter(i)));
    }
}

bool Vst3Processor::readHostTime(HostTimeInfo& info) {
    const v3_process_context* c = context_;
    if (!c) return false;
    info = HostTimeInfo{};
    if (c->state & V3_PROCESS_CTX_TEMPO_VALID) {
        info.tempo = c->bpm;
        info.tempoValid = true;
    }
    if (c->state & V3_PROCESS_CTX_PROJECT_TIME_VALID) {
        info.ppqPosition = c->project_time_quarters;
        info.ppqValid = true;
    }
    if (c->state & V3_PROCESS_CTX_BAR_POSITION_VALID) {
        info.barStartPosition = c->bar_position_quarters;
        info.barsValid = true;
    }
    if (c->state & V3_PROCESS_CTX_TIME_SIG_VALID) {
        info.timeSigNumerator = c->time_sig_numerator;
        info.timeSigDenominator = c->time_sig_denom;
        info.timeSigValid = true;
    }
    return true;
}

void Vst3Processor::parameterSetByController(int index, float) {
    if (isParameterIndex(index)) setByController_[static_cast<std::size_t>(index)] = true;
}

// ---- IConnectionPoint ---------------------------------------------------------------

// The peer is not kept: the one message is all the two exchange, and holding
// it would tie the two objects' lifetimes to the host's disconnect.
v3_result Vst3Processor::connect(v3_connection_point** other) {
    if (!other) return kInvalidArgument;
    auto* message = new Vst3Message(kLinkMessageId);
    message->setInt(kLinkAttribute, static_cast<int64_t>(linkNumber_));
    entries<v3_connection_point>(other)->notify(other, message->message());
    message->release();
    return kResultOk;
}

v3_result Vst3Processor::disconnect(v3_connection_point**) { return kResultOk; }

v3_result Vst3Processor::notify(v3_message**) { return kResultOk; }

// ---- IProcessContextRequirements ------------------------------------------------------

uint32_t Vst3Processor::getProcessContextRequirements() {
    return V3_PROCESS_CTX_NEED_PROJECT_TIME | V3_PROCESS_CTX_NEED_BAR_POSITION | V3_PROCESS_CTX_NEED_TEMPO |
           V3_PROCESS_CTX_NEED_TIME_SIG | V3_PROCESS_CTX_NEED_TRANSPORT_STATE;
}

}  // namespace kovalith::vst3
