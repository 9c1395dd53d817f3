// Hot input in a floating-point mix: a stray spike, an over or a DC fault while
// the music goes on. A second after the burst the music must sound as it would
// have without it, rather than the effect ringing on far above full scale.
// (A burst within full scale is music to the effect: its echoes are the sound.)
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

constexpr size_t kRate = 44100;
constexpr size_t kBurstStart = kRate / 4;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kEveryBurst = false;  // the sanitizer build runs unoptimised: one burst per setting
#else
constexpr bool kEveryBurst = true;
#endif

// The music that goes on: a 220 Hz sine at 0.3 in both channels.
float music(size_t n) { return static_cast<float>(0.3 * std::sin(2.0 * M_PI * 220.0 * static_cast<double>(n) / kRate)); }

struct Burst {
    const char* name;
    size_t length;
    float (*sample)(size_t n);  // n counts from the start of the signal
};

const Burst kBursts[] = {
    {"10 samples at 1e4", 10, [](size_t) { return 1.0e4f; }},
    {"10 samples at 1e6", 10, [](size_t) { return 1.0e6f; }},
    {"10 samples at 1e30", 10, [](size_t) { return 1.0e30f; }},
    {"1 s of DC at 1e3", kRate, [](size_t) { return 1.0e3f; }},
    {"1 s of the music at +24 dBFS", kRate, [](size_t n) { return music(n) * (15.85f / 0.3f); }},
};

// A factory program, maybe with one parameter at its maximum.
struct Setting {
    int program;
    int maximum;  // a parameter index, or -1
};

Stereo render(const Setting& setting, const Burst* burst, size_t frames) {
    Stereo in(frames);
    for (size_t n = 0; n < frames; ++n) {
        const bool bursting = burst && n >= kBurstStart && n < kBurstStart + burst->length;
        in.left[n] = in.right[n] = bursting ? burst->sample(n) : music(n);
    }
    EngineRig rig;
    rig.loadFactory(setting.program);
    if (setting.maximum >= 0) rig.set(setting.maximum, 1.0f);
    return rig.render(in, 512);
}

double levelDb(const Stereo& s, size_t from, size_t to) {
    return 20.0 * std::log10(rms(s.left, from, to) + rms(s.right, from, to));
}

TEST(HotInput, EveryProgramIsBackWithinASecondOfABurst) {
    std::vector<Setting> settings;
    for (int program = 0; program < kNumFactoryPresets; ++program)
        for (const int maximum : {-1, static_cast<int>(kSaturation), static_cast<int>(kFeedback)})
            settings.push_back({program, maximum});
    constexpr size_t kSecond = kRate;
    for (size_t i = 0; i < settings.size(); ++i) {
        const Setting& setting = settings[i];
        const std::string label = std::string(factoryPresetName(setting.program)) +
                                  (setting.maximum == kSaturation  ? ", Saturation at 1"
                                   : setting.maximum == kFeedback ? ", Feedback at 1"
                                                                  : "");
        const Stereo reference = render(setting, nullptr, kBurstStart + 2 * kSecond + kSecond / 2);
        for (size_t b = 0; b < std::size(kBursts); ++b) {
            if (!kEveryBurst && b != i % std::size(kBursts)) continue;
            const Burst& burst = kBursts[b];
            const size_t from = kBurstStart + burst.length + kSecond, to = from + kSecond / 2;
            const Stereo out = render(setting, &burst, to);
            const double excess = levelDb(out, from, to) - levelDb(reference, from, to);
            EXPECT_LT(std::fabs(excess), 6.0) << label << ", " << burst.name << ": " << excess << " dB";
        }
    }
}

}  // namespace
}  // namespace kovalith::test
