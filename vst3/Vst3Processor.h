// The audio side of the VST3 plug-in: IComponent and IAudioProcessor over
// one KovalithEffect. One stereo input and output bus of 32-bit floats, one
// event input bus (so hosts route MIDI controllers to the hidden controller
// parameters the controller maps them to), the state as the effect saves it.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "effect/KovalithEffect.h"
#include "vst3/Vst3Com.h"

namespace kovalith::vst3 {

class Vst3Processor : public RefCounted, private ITimeInfoSource, private IEffectListener {
public:
    Vst3Processor();
    ~Vst3Processor() override;

    v3_result queryInterface(const v3_tuid iid, void** out);

    // IPluginBase, IComponent (host threads other than audio)
    v3_result initialize(v3_funknown** context);
    v3_result terminate();
    v3_result getControllerClassId(v3_tuid classId);
    v3_result setIoMode(int32_t mode);
    int32_t getBusCount(int32_t mediaType, int32_t direction);
    v3_result getBusInfo(int32_t mediaType, int32_t direction, int32_t index, v3_bus_info* info);
    v3_result getRoutingInfo(v3_routing_info* input, v3_routing_info* output);
    v3_result activateBus(int32_t mediaType, int32_t direction, int32_t index, v3_bool state);
    v3_result setActive(v3_bool state);
    // The state is the effect's: a damaged or foreign one is refused and the
    // previous state kept.
    v3_result setState(v3_bstream** stream);
    v3_result getState(v3_bstream** stream);

    // IAudioProcessor
    v3_result setBusArrangements(v3_speaker_arrangement* inputs, int32_t numInputs,
                                 v3_speaker_arrangement* outputs, int32_t numOutputs);
    v3_result getBusArrangement(int32_t direction, int32_t index, v3_speaker_arrangement* arrangement);
    v3_result canProcessSampleSize(int32_t symbolicSize);
    uint32_t getLatencySamples() { return 0; }
    v3_result setupProcessing(v3_process_setup* setup);
    v3_result setProcessing(v3_bool state);
    // Audio thread.
    v3_result process(v3_process_data* data);
    uint32_t getTailSamples();

    // IConnectionPoint: on connection the controller is told where the effect is.
    v3_result connect(v3_connection_point** other);
    v3_result disconnect(v3_connection_point** other);
    v3_result notify(v3_message** message);

    // IProcessContextRequirements
    uint32_t getProcessContextRequirements();

    KovalithEffect& effect() { return effect_; }

private:
    bool readHostTime(HostTimeInfo& info) override;
    void parameterChanged(int, float) override {}
    void parameterSetByController(int index, float value) override;

    void applyParameterChanges(v3_param_changes** changes);
    void applyParameter(v3_param_id id, double normalized);
    void runBlock(v3_process_data& data);
    void reportChanges(v3_param_changes** changes, bool programChanged);

    Face componentFace_;
    Face processorFace_;
    Face connectionFace_;
    Face requirementsFace_;

    std::shared_ptr<KovalithEffect> effectOwner_;
    KovalithEffect& effect_;
    uint64_t linkNumber_ = 0;

    // Audio thread only.
    const v3_process_context* context_ = nullptr;
    std::array<bool, kNumParams> setByController_{};
    int reportedProgram_ = 0;
    std::vector<float> silence_;
};

}  // namespace kovalith::vst3
