// The effect record of the small test plug-ins: stereo, one instance object,
// the usual entry points; only counts, flags and identity differ.
#pragma once

#include "plugin/vst2.h"

namespace kovalith {
namespace testing {

struct FixtureEntries {
    vst2::AEffectDispatcherProc dispatcher;
    vst2::AEffectSetParameterProc setParameter;
    vst2::AEffectGetParameterProc getParameter;
    vst2::AEffectProcessProc processReplacing;
};

inline void fillStereoEffect(vst2::AEffect& e, void* object, const FixtureEntries& entries, int32_t programs,
                             int32_t params, int32_t flags, int32_t uniqueID, int32_t version) {
    e.magic = vst2::kEffectMagic;
    e.dispatcher = entries.dispatcher;
    e.setParameter = entries.setParameter;
    e.getParameter = entries.getParameter;
    e.processReplacing = entries.processReplacing;
    e.numPrograms = programs;
    e.numParams = params;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = flags;
    e.object = object;
    e.uniqueID = uniqueID;
    e.version = version;
}

}  // namespace testing
}  // namespace kovalith
