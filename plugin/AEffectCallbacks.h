// The C-level entries of the AEffect record. Each recovers the instance from
// effect->object, checks it and forwards to the adapter.
#pragma once

#include "plugin/vst2.h"

namespace kovalith::callbacks {

intptr_t dispatch(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                  float opt);
void processAccumulating(vst2::AEffect* effect, float** inputs, float** outputs, int32_t sampleFrames);
void processReplacing(vst2::AEffect* effect, float** inputs, float** outputs, int32_t sampleFrames);
void processDoubleReplacing(vst2::AEffect* effect, double** inputs, double** outputs,
                            int32_t sampleFrames);
void setParameter(vst2::AEffect* effect, int32_t index, float value);
float getParameter(vst2::AEffect* effect, int32_t index);

}  // namespace kovalith::callbacks
