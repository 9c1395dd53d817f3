#include "vst3/Vst3Parameters.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "effect/Parameters.h"
#include "vst3/Vst3Strings.h"

namespace kovalith::vst3 {
namespace {

struct ExposedList {
    std::array<int, kNumParams> indices{};
    int count = 0;
};

const ExposedList& exposed() {
    static const ExposedList list = [] {
        ExposedList l;
        for (int i = 0; i < kNumParams; ++i)
            if (describeParameter(i).exposed) l.indices[static_cast<std::size_t>(l.count++)] = i;
        return l;
    }();
    return list;
}

int stepsOf(int index) { return std::max(describeParameter(index).items - 1, 0); }

double clampUnit(double v) { return std::isnan(v) ? 0.0 : std::min(std::max(v, 0.0), 1.0); }

void fillEffectParameter(int index, v3_param_info& info) {
    const ParameterDescription& d = describeParameter(index);
    info.param_id = static_cast<v3_param_id>(index);
    toUtf16(info.title, 128, d.name);
    toUtf16(info.short_title, 128, d.name);
    // Read-outs that switch units ("ms"/"s", "Hz"/sync units) carry them in
    // their text; only plain numbers get the unit beside them.
    toUtf16(info.units, 128, d.readout == Readout::Plain ? d.unit : "");
    info.step_count = stepsOf(index);
    info.default_normalised_value = vst3NormalizedFromStored(index, kParameterTable[static_cast<std::size_t>(index)].defaultValue);
    info.unit_id = kRootUnitId;
    info.flags = V3_PARAM_CAN_AUTOMATE | (d.labels ? V3_PARAM_IS_LIST : 0);
}

}  // namespace

int listedParameterCount() { return exposed().count + 1 + kNumLearnableControllers; }

int64_t listedParameterId(int position) {
    const int effectCount = exposed().count;
    if (position < 0 || position >= listedParameterCount()) return -1;
    if (position < effectCount) return exposed().indices[static_cast<std::size_t>(position)];
    if (position == effectCount) return kProgramParamId;
    return kControllerParamBase + static_cast<v3_param_id>(position - effectCount - 1);
}

bool describeListed(int position, v3_param_info& info) {
    const int64_t id = listedParameterId(position);
    if (id < 0) return false;
    info = v3_param_info{};
    if (id < kNumParams) {
        fillEffectParameter(static_cast<int>(id), info);
    } else if (id == kProgramParamId) {
        info.param_id = kProgramParamId;
        toUtf16(info.title, 128, "Program");
        toUtf16(info.short_title, 128, "Program");
        info.step_count = kNumPrograms - 1;
        info.unit_id = kRootUnitId;
        info.flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST | V3_PARAM_CAN_AUTOMATE;
    } else {
        // Hidden and not automatable, so hosts keep them out of their
        // automation lists; not read-only, or hosts would not route the
        // controllers to them.
        const int controller = static_cast<int>(id - kControllerParamBase);
        info.param_id = static_cast<v3_param_id>(id);
        const std::string title = "Controller " + std::to_string(controller);
        toUtf16(info.title, 128, title.c_str());
        toUtf16(info.short_title, 128, title.c_str());
        info.step_count = 127;
        info.unit_id = kRootUnitId;
        info.flags = V3_PARAM_IS_HIDDEN;
    }
    return true;
}

bool isEffectParameter(v3_param_id id) { return id < kNumParams && describeParameter(static_cast<int>(id)).exposed; }

int controllerOfParameter(v3_param_id id) {
    return id >= kControllerParamBase && id < kControllerParamBase + kNumLearnableControllers
               ? static_cast<int>(id - kControllerParamBase)
               : -1;
}

double vst3NormalizedFromStored(int index, float stored) {
    const int steps = stepsOf(index);
    if (steps == 0) return clampUnit(static_cast<double>(stored));
    return static_cast<double>(plainFromStored(index, stored)) / steps;
}

float storedFromVst3Normalized(int index, double normalized) {
    const int steps = stepsOf(index);
    if (steps == 0) return static_cast<float>(clampUnit(normalized));
    return storedFromPlain(index, static_cast<float>(std::round(clampUnit(normalized) * steps)));
}

double normalizedFromProgram(int program) {
    return static_cast<double>(std::min(std::max(program, 0), kNumPrograms - 1)) / (kNumPrograms - 1);
}

int programFromNormalized(double normalized) {
    return static_cast<int>(std::round(clampUnit(normalized) * (kNumPrograms - 1)));
}

double plainFromNormalized(v3_param_id id, double normalized) {
    if (id == kProgramParamId) return programFromNormalized(normalized);
    if (id < kNumParams) {
        const int steps = stepsOf(static_cast<int>(id));
        if (steps > 0) return std::round(clampUnit(normalized) * steps);
    }
    return normalized;
}

double normalizedFromPlain(v3_param_id id, double plain) {
    if (id == kProgramParamId) {
        const double last = kNumPrograms - 1;
        return std::round(clampUnit(plain / last) * last) / last;
    }
    if (id < kNumParams) {
        const int steps = stepsOf(static_cast<int>(id));
        if (steps > 0) return clampUnit(plain / steps);
    }
    return clampUnit(plain);
}

}  // namespace kovalith::vst3
