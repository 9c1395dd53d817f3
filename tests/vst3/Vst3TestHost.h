// A small VST3 host for the tests: loads a bundle's module, creates the
// processor and its controller through the factory, connects them as hosts
// do, and drives them through the binary interface only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vst3/Vst3Com.h"

namespace kovalith::vst3test {

using vst3::Face;
using vst3::RefCounted;

// IBStream over a byte vector.
class MemoryStream : public RefCounted {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes = {});
    v3_bstream** stream() { return reinterpret_cast<v3_bstream**>(&face_); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    v3_result queryInterface(const v3_tuid iid, void** out);
    v3_result read(void* buffer, int32_t size, int32_t* done);
    v3_result write(void* buffer, int32_t size, int32_t* done);
    v3_result seek(int64_t position, int32_t mode, int64_t* result);
    v3_result tell(int64_t* position);

private:
    Face face_;
    std::vector<uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Parameter changes of one block: (id, [(offset, value)...]), in and out.
using PointList = std::vector<std::pair<int32_t, double>>;
using ChangeList = std::vector<std::pair<v3_param_id, PointList>>;

class ParameterChanges : public RefCounted {
public:
    explicit ParameterChanges(ChangeList changes = {});
    v3_param_changes** changes() { return reinterpret_cast<v3_param_changes**>(&face_); }
    ChangeList result() const;

    v3_result queryInterface(const v3_tuid iid, void** out);
    int32_t getParamCount() { return static_cast<int32_t>(queues_.size()); }
    v3_param_value_queue** getParamData(int32_t index);
    v3_param_value_queue** addParamData(v3_param_id* id, int32_t* index);

private:
    class Queue;
    Face face_;
    std::vector<Queue*> queues_;
    ~ParameterChanges() override;
};

// IComponentHandler that records what the plug-in tells the host.
struct HostRecord {
    std::vector<std::pair<v3_param_id, double>> performed;
    int begins = 0, ends = 0, restarts = 0;
};

// The transport the host reports; without it, no process context at all
// (as the command-line host renders without --tempo).
struct ProcessContext {
    bool present = true;
    double tempo = 120.0;
    double ppq = 0.0;
};

class Vst3Plugin {
public:
    // Loads `module` (the library inside a bundle) and creates one processor
    // and controller pair; null with `error` set on failure.
    static std::unique_ptr<Vst3Plugin> load(const std::string& module, std::string* error);
    ~Vst3Plugin();

    v3_plugin_factory** factory() const { return factory_; }
    v3_component** component() const { return component_; }
    v3_audio_processor** processor() const { return processor_; }
    v3_edit_controller** controller() const { return controller_; }
    const HostRecord& record() const;

    // setupProcessing, setActive and setProcessing.
    bool start(double sampleRate, int maxBlock);
    // One block of stereo audio with the given parameter changes; the
    // plug-in's own changes land in `reported`. The context's position moves on
    // by the block, as the VST 2.4 test host's transport does.
    bool process(const float* const* in, float* const* out, int frames, const ChangeList& changes = {},
                 ChangeList* reported = nullptr);
    ProcessContext& context() { return context_; }

    std::vector<uint8_t> state();
    bool setState(const std::vector<uint8_t>& bytes);
    bool setControllerState(const std::vector<uint8_t>& bytes);

    double getParam(v3_param_id id);
    bool setParam(v3_param_id id, double normalized);

private:
    Vst3Plugin() = default;
    void* library_ = nullptr;
    v3_plugin_factory** factory_ = nullptr;
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    v3_edit_controller** controller_ = nullptr;
    class Handler;
    Handler* handler_ = nullptr;
    ProcessContext context_;
    double sampleRate_ = 44100.0;
};

// The module inside a bundle, for this platform.
std::string moduleInBundle(const std::string& bundle);

}  // namespace kovalith::vst3test
