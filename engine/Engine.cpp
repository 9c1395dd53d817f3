// Placeholder pipeline: passes the input through until the signal chain lands.
#include "engine/Engine.h"

#include <cstring>

namespace kovalith {

CKovalithEngine::CKovalithEngine() = default;
CKovalithEngine::~CKovalithEngine() = default;

void CKovalithEngine::init() {}

void CKovalithEngine::applyParameter(int index, float value, float engValue) {
    if (index < 0 || index >= kNumParams) return;
    values_[index] = value;
    engValues_[index] = engValue;
}

void CKovalithEngine::requestReset() { resetRequested_.store(true, std::memory_order_release); }

void CKovalithEngine::setSampleRate(float rate) { sampleRate_.store(rate, std::memory_order_relaxed); }

void CKovalithEngine::process(const float* const* inputs, float* const* outputs, int sampleFrames,
                              ITimeInfoSource*) {
    if (!inputs || !outputs || sampleFrames <= 0) return;
    resetRequested_.store(false, std::memory_order_relaxed);
    for (int ch = 0; ch < 2; ++ch) {
        if (!inputs[ch] || !outputs[ch]) continue;
        if (inputs[ch] != outputs[ch])
            std::memmove(outputs[ch], inputs[ch], sizeof(float) * static_cast<size_t>(sampleFrames));
    }
}

}  // namespace kovalith
