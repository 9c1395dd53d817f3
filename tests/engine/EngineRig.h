// Shared helpers of the engine tests: an engine driven the way the effect's
// shell drives it (values in host order, engineering values at the rate current
// when set), host time information on demand, and test signals.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "engine/Engine.h"
#include "effect/Parameters.h"
#include "effect/Programs.h"

namespace kovalith::test {

// Time information as a host adapter hands it over, or none at all.
class FakeTime : public ITimeInfoSource {
public:
    bool readHostTime(HostTimeInfo& out) override {
        ++calls;
        if (info) out = *info;
        return info.has_value();
    }

    // A playing transport at `tempo` from `ppq`, with every field the engine asks for.
    void playing(double tempo, double ppq = 0.0) {
        HostTimeInfo t;
        t.tempo = tempo;
        t.ppqPosition = ppq;
        t.tempoValid = t.ppqValid = t.barsValid = t.timeSigValid = true;
        info = t;
    }

    std::optional<HostTimeInfo> info;
    int calls = 0;
};

// Settings under which the wet path passes its input almost unchanged apart
// from the decimator's finest step (every second sample, held once with 0.98):
// no analysis strength, no window, a flat feedback filter. `target` is an engine
// rig or a loaded plug-in, anything with set(index, value).
template <typename Target>
void setCleanChain(Target& target) {
    for (const auto& [index, value] : {std::pair{kARes, 0.0f}, {kSRes, 0.0f}, {kBlockSize, 0.0f}, {kNumStages, 0.0f},
                                       {kDecimation, 0.0f}, {kSaturation, 0.0f}, {kFilterType, 0.7f} /* peaking */,
                                       {kResonance, 0.5f} /* with gain 1: flat */, {kCompressorType, 0.0f},
                                       {kMix, 1.0f}, {kOut, 1.0f}})
        target.set(index, value);
    for (int i = kEnvToSWarp; i <= kLfo2ToFbCutoff; ++i) target.set(i, 0.5f);
}

// Two channels of audio.
struct Stereo {
    explicit Stereo(size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t size() const { return left.size(); }
    std::vector<float> left, right;
};

// The stored values of factory preset p.
inline std::vector<float> factoryPreset(int p) {
    auto bank = std::make_unique<ProgramBank>();
    for (ProgramRecord& record : bank->programs) initDefaultProgram(record);
    writeFactoryPresets(*bank);
    return std::vector<float>(bank->programs[p].params, bank->programs[p].params + kNumParams);
}

inline std::vector<float> defaultProgram() {
    ProgramRecord record;
    initDefaultProgram(record);
    return std::vector<float>(record.params, record.params + kNumParams);
}

class EngineRig {
public:
    explicit EngineRig(float sampleRate = 44100.0f) : engine(std::make_unique<CKovalithEngine>()) {
        engine->init();
        setSampleRate(sampleRate);
        load(defaultProgram());
    }

    // The units for inspection between blocks; some of their read-outs are not const.
    CKovalithUnits& units() { return const_cast<CKovalithUnits&>(engine->units()); }

    void setSampleRate(float rate) {
        sampleRate = rate;
        engine->setSampleRate(rate);
    }

    // One parameter as the shell hands it over.
    void set(int index, float v) { engine->applyParameter(index, v, engineeringValue(index, v, sampleRate)); }

    void load(const std::vector<float>& values) {
        for (int i = 0; i < kNumParams; ++i) set(i, values[static_cast<size_t>(i)]);
    }
    void loadFactory(int preset) { load(factoryPreset(preset)); }

    void process(const float* inL, const float* inR, float* outL, float* outR, int frames) {
        const float* in[2] = {inL, inR};
        float* out[2] = {outL, outR};
        engine->process(in, out, frames, time);
    }

    // Renders `in` in blocks of `block` samples.
    Stereo render(const Stereo& in, int block) {
        Stereo out(in.size());
        for (size_t n = 0; n < in.size(); n += static_cast<size_t>(block)) {
            const int frames = static_cast<int>(std::min(static_cast<size_t>(block), in.size() - n));
            process(in.left.data() + n, in.right.data() + n, out.left.data() + n, out.right.data() + n, frames);
        }
        return out;
    }

    std::unique_ptr<CKovalithEngine> engine;
    float sampleRate = 44100.0f;
    ITimeInfoSource* time = nullptr;
};

// Noise, a decaying drum-like burst every half second and a two-tone chord:
// broadband enough for the analysis, with silences for the tails.
inline Stereo testSignal(size_t frames, float level = 0.5f, unsigned seed = 7) {
    Stereo s(frames);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / 44100.0;
        const double burst = std::exp(-40.0 * std::fmod(t, 0.5));
        const float chord = static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277 * t));
        s.left[n] = level * (0.6f * static_cast<float>(burst) * noise(rng) + chord);
        s.right[n] = level * (0.6f * static_cast<float>(burst) * noise(rng) + 0.8f * chord);
    }
    return s;
}

inline bool allFinite(const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

inline int countSubnormal(const std::vector<float>& v) {
    return static_cast<int>(std::count_if(v.begin(), v.end(), [](float x) { return std::fpclassify(x) == FP_SUBNORMAL; }));
}

inline double peak(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
    double p = 0.0;
    for (size_t n = from; n < std::min(to, v.size()); ++n) p = std::max(p, static_cast<double>(std::fabs(v[n])));
    return p;
}

inline double rms(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
    double sum = 0.0;
    to = std::min(to, v.size());
    for (size_t n = from; n < to; ++n) sum += static_cast<double>(v[n]) * v[n];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// The RMS of a - b over [from, to).
inline double rmsDifference(const std::vector<float>& a, const std::vector<float>& b, size_t from = 0) {
    double sum = 0.0;
    const size_t to = std::min(a.size(), b.size());
    for (size_t n = from; n < to; ++n) sum += (static_cast<double>(a[n]) - b[n]) * (static_cast<double>(a[n]) - b[n]);
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// The amplitude-weighted centre of v over [from, to).
inline double centroid(const std::vector<float>& v, size_t from, size_t to) {
    double weighted = 0.0, total = 0.0;
    for (size_t n = from; n < std::min(to, v.size()); ++n) {
        weighted += static_cast<double>(n) * v[n];
        total += v[n];
    }
    return total != 0.0 ? weighted / total : -1.0;
}

}  // namespace kovalith::test
