// A small effect with four deliberate faults, one for each of the validator's
// groups that should find it, and careful everywhere else:
// - load: every effClose loses 16 KiB;
// - parameters: setParameter stores any value, NaN included, and the gain
//   parameter multiplies the output;
// - state: effSetChunk trusts the parameter count written inside the chunk
//   instead of the size it was given;
// - threads: effSetSampleRate replaces the delay buffer while the audio
//   thread may still be using the old one.
#include "plugin/vst2.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace vst2;

constexpr int kParams = 4;
constexpr int kPrograms = 2;
constexpr size_t kLeakPerClose = 16 * 1024;

// Where the lost memory goes: each close overwrites the last pointer.
char* volatile g_lost = nullptr;

struct Faulty {
    AEffect effect{};
    float params[kParams] = {0.8f, 0.5f, 0.5f, 0.5f};
    int program = 0;
    std::vector<uint8_t> chunk;
    // The delay line: mapped afresh for every sample rate.
    float* delay = nullptr;
    size_t delayFrames = 0;
    size_t position = 0;
};

Faulty* self(AEffect* effect) { return static_cast<Faulty*>(effect->object); }

void mapDelay(Faulty& f, float rate) {
    if (!(rate >= 8000.0f && rate <= 384000.0f)) rate = 44100.0f;
    const size_t frames = static_cast<size_t>(rate / 4.0f);
    void* fresh = mmap(nullptr, frames * sizeof(float), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh == MAP_FAILED) return;
    // The fault: the old buffer goes away at once, whoever is reading it.
    if (f.delay) munmap(f.delay, f.delayFrames * sizeof(float));
    f.delay = static_cast<float*>(fresh);
    f.delayFrames = frames;
    f.position = 0;
}

intptr_t getChunk(Faulty& f, void* ptr) {
    if (!ptr) return 0;
    const uint32_t count = kParams;
    f.chunk.resize(sizeof count + sizeof f.params);
    std::memcpy(f.chunk.data(), &count, sizeof count);
    std::memcpy(f.chunk.data() + sizeof count, f.params, sizeof f.params);
    *static_cast<void**>(ptr) = f.chunk.data();
    return static_cast<intptr_t>(f.chunk.size());
}

intptr_t setChunk(Faulty& f, const void* ptr, intptr_t size) {
    if (!ptr || size < 4) return 0;
    uint32_t count = 0;
    std::memcpy(&count, ptr, sizeof count);
    const auto* values = reinterpret_cast<const uint8_t*>(ptr) + sizeof count;
    // The fault: `count` comes from the chunk and is never checked against `size`.
    for (uint32_t i = 0; i < count; ++i) {
        float value;
        std::memcpy(&value, values + i * sizeof value, sizeof value);
        if (!std::isfinite(value)) return 0;
    }
    for (uint32_t i = 0; i < count && i < kParams; ++i)
        std::memcpy(&f.params[i], values + i * sizeof(float), sizeof(float));
    return 1;
}

void copyText(void* ptr, const char* text, size_t capacity) {
    if (ptr) std::snprintf(static_cast<char*>(ptr), capacity, "%s", text);
}

intptr_t dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    Faulty& f = *self(effect);
    switch (opcode) {
    case effClose: {
        // The fault: memory lost on every close.
        char* lost = new char[kLeakPerClose];
        std::memset(lost, 1, kLeakPerClose);
        g_lost = lost;
        if (f.delay) munmap(f.delay, f.delayFrames * sizeof(float));
        delete &f;
        return 1;
    }
    case effSetProgram:
        if (value >= 0 && value < kPrograms) f.program = static_cast<int>(value);
        return 0;
    case effGetProgram: return f.program;
    case effGetParamName: copyText(ptr, index >= 0 && index < kParams ? "Param" : "", kVstMaxParamStrLen); return 0;
    case effSetSampleRate: mapDelay(f, opt); return 0;
    case effGetChunk: return getChunk(f, ptr);
    case effSetChunk: return setChunk(f, ptr, value);
    case effProcessEvents: return 1;
    case effGetEffectName: copyText(ptr, "Faulty", kVstMaxEffectNameLen); return 1;
    case effGetVstVersion: return 2400;
    default: return 0;
    }
}

void setParameter(AEffect* effect, int32_t index, float value) {
    // The fault: any value is stored, NaN and infinities included.
    if (index >= 0 && index < kParams) self(effect)->params[index] = value;
}

float getParameter(AEffect* effect, int32_t index) {
    return index >= 0 && index < kParams ? self(effect)->params[index] : 0.0f;
}

void processReplacing(AEffect* effect, float** in, float** out, int32_t frames) {
    Faulty& f = *self(effect);
    const float gain = f.params[0];
    float* delay = f.delay;
    for (int32_t i = 0; i < frames; ++i) {
        const float mono = 0.5f * (in[0][i] + in[1][i]);
        const float echo = delay[f.position];
        delay[f.position] = mono;
        f.position = (f.position + 1) % f.delayFrames;
        out[0][i] = gain * (in[0][i] + 0.5f * echo);
        out[1][i] = gain * (in[1][i] + 0.5f * echo);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) {
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* f = new Faulty;
    mapDelay(*f, 44100.0f);
    AEffect& e = f->effect;
    e.magic = kEffectMagic;
    e.dispatcher = dispatcher;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.processReplacing = processReplacing;
    e.numPrograms = kPrograms;
    e.numParams = kParams;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = effFlagsCanReplacing | effFlagsProgramChunks;
    e.object = f;
    e.uniqueID = fourCC('K', 'v', 'F', 'l');
    e.version = 1;
    return &e;
}
