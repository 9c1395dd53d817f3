// The VST3 processor against the VST 2.4 plug-in: the same factory program and
// music through each format's binary interface, as a host calls it (the VST3
// processor's IAudioProcessor::process with its parameter-change lists, the
// AEffect's processReplacing), at the blocks hosts use. Neither gets time
// information. Compare the two in the same run (bench/README.md).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "plugin/Kovalith.h"
#include "vst3/Vst3Ids.h"
#include "vst3/Vst3Processor.h"

namespace kovalith {
namespace {

constexpr double kRate = 44100.0;
constexpr int kSignalFrames = 4 * 44100;

intptr_t benchHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;  // no time information
}

// Noise bursts over a chord, as in bench_engine.
struct Signal {
    std::vector<float> left, right;
    Signal() : left(kSignalFrames), right(kSignalFrames) {
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (int n = 0; n < kSignalFrames; ++n) {
            const double t = n / kRate;
            const double chord = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t);
            const float burst = std::fmod(t, 0.5) < 0.1 ? 0.5f : 0.05f;
            left[static_cast<size_t>(n)] = static_cast<float>(chord) + burst * noise(rng);
            right[static_cast<size_t>(n)] = static_cast<float>(0.8 * chord) + burst * noise(rng);
        }
    }
};

const Signal& music() {
    static const Signal signal;
    return signal;
}

// A parameter-change list with nothing in it, as hosts pass when nothing moved.
struct EmptyChanges {
    static int32_t V3_API count(void*) { return 0; }
    static v3_param_value_queue** V3_API get(void*, int32_t) { return nullptr; }
    static v3_param_value_queue** V3_API add(void*, v3_param_id*, int32_t*) { return nullptr; }
    static v3_result V3_API query(void*, const v3_tuid, void**) { return vst3::kNoInterface; }
    static uint32_t V3_API ref(void*) { return 1; }
    static constexpr v3_param_changes_cpp table{{query, ref, ref}, {count, get, add}};
    const void* vtable = &table;
};

class Format {
public:
    virtual ~Format() = default;
    virtual void process(float** in, float** out, int frames) = 0;
};

class Vst2 : public Format {
public:
    Vst2(int program, int block) : effect_(std::make_unique<Kovalith>(benchHost)) {
        e_ = effect_->getAeffect();
        e_->dispatcher(e_, vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        e_->dispatcher(e_, vst2::effSetBlockSize, 0, block, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effSetProgram, 0, program, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    void process(float** in, float** out, int frames) override { e_->processReplacing(e_, in, out, frames); }

private:
    std::unique_ptr<Kovalith> effect_;
    vst2::AEffect* e_ = nullptr;
};

class Vst3 : public Format {
public:
    Vst3(int program, int block) : object_(new vst3::Vst3Processor()) {
        void* face = nullptr;
        object_->queryInterface(v3_audio_processor_iid, &face);
        processor_ = static_cast<v3_audio_processor**>(face);
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, block, kRate};
        call()->setup_processing(processor_, &setup);
        object_->setActive(true);
        call()->set_processing(processor_, true);
        object_->effect().setProgram(program);
    }
    ~Vst3() override {
        vst3::releaseInterface(processor_);
        object_->release();
    }
    void process(float** in, float** out, int frames) override {
        v3_audio_bus_buffers inputs{2, 0, {in}};
        v3_audio_bus_buffers outputs{2, 0, {out}};
        auto* changes = reinterpret_cast<v3_param_changes**>(&empty_);
        v3_process_data data{V3_REALTIME, V3_SAMPLE_32, frames, 1, 1, &inputs, &outputs, changes, changes,
                             nullptr, nullptr, nullptr};
        call()->process(processor_, &data);
    }

private:
    const v3_audio_processor* call() const { return vst3::entries<v3_audio_processor>(processor_); }
    vst3::Vst3Processor* object_;
    v3_audio_processor** processor_ = nullptr;
    EmptyChanges empty_;
};

// Args: factory program, block size.
template <typename F>
void BM_Format(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(1));
    F format(static_cast<int>(state.range(0)), frames);
    std::vector<float> outL(static_cast<size_t>(frames)), outR(outL.size());
    float* out[2] = {outL.data(), outR.data()};
    int position = 0;
    auto block = [&] {
        if (position + frames > kSignalFrames) position = 0;
        float* in[2] = {const_cast<float*>(music().left.data() + position),
                        const_cast<float*>(music().right.data() + position)};
        format.process(in, out, frames);
        benchmark::DoNotOptimize(outL[0]);
        position += frames;
    };
    for (int n = 0; n < 44100; n += frames) block();  // past the first analysis blocks
    for (auto _ : state) block();
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / kRate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_TEMPLATE(BM_Format, Vst2)->ArgsProduct({{0, 3}, {64, 512}});
BENCHMARK_TEMPLATE(BM_Format, Vst3)->ArgsProduct({{0, 3}, {64, 512}});

}  // namespace
}  // namespace kovalith
