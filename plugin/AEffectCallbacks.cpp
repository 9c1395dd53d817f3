// Thin C-level entries: recover and check the instance, forward.
#include "plugin/AEffectCallbacks.h"

#include "plugin/AudioEffect.h"

namespace kovalith::callbacks {
namespace {

AudioEffect* instanceOf(vst2::AEffect* effect) {
    if (!effect || effect->magic != vst2::kEffectMagic) return nullptr;
    return static_cast<AudioEffect*>(effect->object);
}

}  // namespace

intptr_t dispatch(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                  float opt) {
    AudioEffect* instance = instanceOf(effect);
    if (!instance) return 0;
    if (opcode == vst2::effClose) {
        // The AEffect record lives inside the instance, so it goes with it.
        instance->close();
        delete instance;
        return 1;
    }
    return instance->dispatcher(opcode, index, value, ptr, opt);
}

// The deprecated accumulating entry never reaches the engine.
void processAccumulating(vst2::AEffect*, float**, float**, int32_t) {}

void processReplacing(vst2::AEffect* effect, float** inputs, float** outputs, int32_t sampleFrames) {
    if (AudioEffect* instance = instanceOf(effect)) instance->processReplacing(inputs, outputs, sampleFrames);
}

void processDoubleReplacing(vst2::AEffect* effect, double** inputs, double** outputs,
                            int32_t sampleFrames) {
    if (AudioEffect* instance = instanceOf(effect))
        instance->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void setParameter(vst2::AEffect* effect, int32_t index, float value) {
    if (AudioEffect* instance = instanceOf(effect)) instance->setParameter(index, value);
}

float getParameter(vst2::AEffect* effect, int32_t index) {
    AudioEffect* instance = instanceOf(effect);
    return instance ? instance->getParameter(index) : 0.0f;
}

}  // namespace kovalith::callbacks
