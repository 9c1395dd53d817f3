// What the fuzz targets share: a minimal host that opens the effect through
// its AEffect record, feeds it blocks, and reads the fuzzer's bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugin/Kovalith.h"

namespace kovalith::fuzz {

// The first bytes of a chunk-target input; the chunk follows.
enum ChunkFlags : uint8_t {
    kChunkIsPreset = 1,      // one program (768 bytes) instead of the bank
    kChunkExactSize = 2,     // padded or cut to the size the effect takes
};
constexpr std::size_t kChunkHeaderBytes = 3;  // flags, program, block frames

// One record of an events-target input, after its first byte (the program).
enum EventRecordKind : uint8_t { kMidiEvent, kLearnCommand, kOtherEvent, kProcessNow, kNumRecordKinds };
constexpr std::size_t kEventRecordBytes = 6;  // kind and five argument bytes

constexpr int kMaxBlockFrames = 256;

inline intptr_t fuzzHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// Opens an effect as a host does, ready to process; close() hands it back.
class FuzzEffect {
public:
    FuzzEffect() : effect_((new Kovalith(fuzzHost))->getAeffect()) {
        dispatch(vst2::effOpen);
        dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 44100.0f);
        dispatch(vst2::effSetBlockSize, 0, kMaxBlockFrames);
        dispatch(vst2::effMainsChanged, 0, 1);
    }
    ~FuzzEffect() { dispatch(vst2::effClose); }
    FuzzEffect(const FuzzEffect&) = delete;
    FuzzEffect& operator=(const FuzzEffect&) = delete;

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }
    vst2::AEffect* aeffect() { return effect_; }

    // One block of a fixed, lively stereo signal; the sanitizers judge it.
    void processBlock(int frames) {
        if (frames > kMaxBlockFrames) frames = kMaxBlockFrames;
        std::vector<float> inL(kMaxBlockFrames), inR(kMaxBlockFrames), outL(kMaxBlockFrames), outR(kMaxBlockFrames);
        for (int n = 0; n < frames; ++n) {
            const float t = static_cast<float>(phase_++);
            inL[n] = 0.5f * std::sin(0.031f * t) + ((phase_ * 2654435761u) >> 28) * 0.01f;
            inR[n] = 0.5f * std::sin(0.017f * t);
        }
        float* in[] = {inL.data(), inR.data()};
        float* out[] = {outL.data(), outR.data()};
        effect_->processReplacing(effect_, in, out, frames);
    }

private:
    vst2::AEffect* effect_;
    unsigned phase_ = 0;
};

}  // namespace kovalith::fuzz
