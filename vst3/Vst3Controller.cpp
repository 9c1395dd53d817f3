#include "vst3/Vst3Controller.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vst3/Vst3Link.h"
#include "vst3/Vst3Parameters.h"
#include "vst3/Vst3Stream.h"
#include "vst3/Vst3Strings.h"
#include "vst3/Vst3View.h"

namespace kovalith::vst3 {
namespace {

using C = Vst3Controller;

constexpr v3_edit_controller_cpp kControllerTable{
    unknownTable<C>(),
    {Thunk<&C::initialize>::call, Thunk<&C::terminate>::call},
    {Thunk<&C::setComponentState>::call, Thunk<&C::setState>::call, Thunk<&C::getState>::call,
     Thunk<&C::getParameterCount>::call, Thunk<&C::getParameterInfo>::call,
     Thunk<&C::getParamStringByValue>::call, Thunk<&C::getParamValueByString>::call,
     Thunk<&C::normalizedParamToPlain>::call, Thunk<&C::plainParamToNormalized>::call,
     Thunk<&C::getParamNormalized>::call, Thunk<&C::setParamNormalized>::call,
     Thunk<&C::setComponentHandler>::call, Thunk<&C::createView>::call}};

constexpr v3_midi_mapping_cpp kMidiMappingTable{unknownTable<C>(),
                                                {Thunk<&C::getMidiControllerAssignment>::call}};

constexpr v3_unit_information_cpp kUnitInfoTable{
    unknownTable<C>(),
    {Thunk<&C::getUnitCount>::call, Thunk<&C::getUnitInfo>::call, Thunk<&C::getProgramListCount>::call,
     Thunk<&C::getProgramListInfo>::call, Thunk<&C::getProgramName>::call, Thunk<&C::getProgramInfo>::call,
     Thunk<&C::hasProgramPitchNames>::call, Thunk<&C::getProgramPitchName>::call,
     Thunk<&C::getSelectedUnit>::call, Thunk<&C::selectUnit>::call, Thunk<&C::getUnitByBus>::call,
     Thunk<&C::setUnitProgramData>::call}};

constexpr v3_connection_point_cpp kConnectionTable{
    unknownTable<C>(), {Thunk<&C::connect>::call, Thunk<&C::disconnect>::call, Thunk<&C::notify>::call}};

}  // namespace

Vst3Controller::Vst3Controller()
    : controllerFace_{&kControllerTable, this},
      midiMappingFace_{&kMidiMappingTable, this},
      unitInfoFace_{&kUnitInfoTable, this},
      connectionFace_{&kConnectionTable, this} {}

Vst3Controller::~Vst3Controller() { releaseInterface(handler_); }

v3_result Vst3Controller::queryInterface(const v3_tuid iid, void** out) {
    if (!out) return kInvalidArgument;
    if (offer(this, iid, v3_funknown_iid, controllerFace_, out) ||
        offer(this, iid, v3_plugin_base_iid, controllerFace_, out) ||
        offer(this, iid, v3_edit_controller_iid, controllerFace_, out) ||
        offer(this, iid, v3_midi_mapping_iid, midiMappingFace_, out) ||
        offer(this, iid, v3_unit_information_iid, unitInfoFace_, out) ||
        offer(this, iid, v3_connection_point_iid, connectionFace_, out))
        return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

v3_result Vst3Controller::initialize(v3_funknown**) { return kResultOk; }

v3_result Vst3Controller::terminate() {
    setComponentHandler(nullptr);
    linked_.reset();
    return kResultOk;
}

// ---- state ----------------------------------------------------------------------------

// The processor's state; a damaged or foreign one is refused. A linked effect
// has it already (hosts give it to the processor first): applying the same
// program again would only draw the random LFO shapes anew.
v3_result Vst3Controller::setComponentState(v3_bstream** stream) {
    std::vector<uint8_t> bytes;
    if (!readStream(stream, bytes, kStateSize)) return kResultFalse;
    const std::shared_ptr<KovalithEffect> effect = model();
    if (bytes == effect->saveState()) return kResultOk;
    return effect->loadState(bytes.data(), bytes.size()) ? kResultOk : kResultFalse;
}

// Everything the controller knows is in the component state.
v3_result Vst3Controller::setState(v3_bstream**) { return kResultOk; }
v3_result Vst3Controller::getState(v3_bstream**) { return kResultOk; }

// ---- parameters -------------------------------------------------------------------------

int32_t Vst3Controller::getParameterCount() { return listedParameterCount(); }

v3_result Vst3Controller::getParameterInfo(int32_t position, v3_param_info* info) {
    return info && describeListed(position, *info) ? kResultOk : kInvalidArgument;
}

v3_result Vst3Controller::getParamStringByValue(v3_param_id id, double normalized, v3_str_128 text) {
    if (!text) return kInvalidArgument;
    char buffer[kValueTextSize] = {};
    if (isEffectParameter(id)) {
        const int index = static_cast<int>(id);
        model()->formatValue(index, storedFromVst3Normalized(index, normalized), buffer, sizeof buffer);
    } else if (id == kProgramParamId) {
        model()->getProgramNameIndexed(programFromNormalized(normalized), buffer);
    } else if (controllerOfParameter(id) >= 0) {
        std::snprintf(buffer, sizeof buffer, "%ld", std::lround(normalized * 127));
    } else {
        return kInvalidArgument;
    }
    toUtf16(text, 128, buffer);
    return kResultOk;
}

v3_result Vst3Controller::getParamValueByString(v3_param_id id, int16_t* text, double* normalized) {
    if (!text || !normalized) return kInvalidArgument;
    const std::string typed = fromUtf16(text, 128);
    if (isEffectParameter(id)) {
        const int index = static_cast<int>(id);
        const std::optional<float> stored = parseParameter(index, typed.c_str(), model()->displayContext());
        if (!stored) return kResultFalse;
        *normalized = vst3NormalizedFromStored(index, *stored);
        return kResultOk;
    }
    if (id == kProgramParamId) {
        char name[kProgramNameSize];
        for (int p = 0; p < kNumPrograms; ++p) {
            if (model()->getProgramNameIndexed(p, name) && typed == name) {
                *normalized = normalizedFromProgram(p);
                return kResultOk;
            }
        }
        return kResultFalse;
    }
    return kInvalidArgument;
}

double Vst3Controller::normalizedParamToPlain(v3_param_id id, double normalized) {
    return plainFromNormalized(id, normalized);
}

double Vst3Controller::plainParamToNormalized(v3_param_id id, double plain) { return normalizedFromPlain(id, plain); }

std::shared_ptr<KovalithEffect> Vst3Controller::model() {
    if (std::shared_ptr<KovalithEffect> effect = linked_.lock()) return effect;
    if (!own_) own_ = std::make_shared<KovalithEffect>();
    return own_;
}

double Vst3Controller::getParamNormalized(v3_param_id id) {
    if (id < kNumParams) return vst3NormalizedFromStored(static_cast<int>(id), model()->getParameter(static_cast<int>(id)));
    if (id == kProgramParamId) return normalizedFromProgram(model()->program());
    const int controller = controllerOfParameter(id);
    return controller >= 0 ? controllerValues_[static_cast<std::size_t>(controller)] : 0.0;
}

// As the processor does: a value that means what the parameter holds already
// leaves the stored value as it is (a menu stored off its items, as some
// factory programs are, stays so).
v3_result Vst3Controller::setParamNormalized(v3_param_id id, double normalized) {
    if (std::isnan(normalized)) return kInvalidArgument;
    if (isEffectParameter(id)) {
        const int index = static_cast<int>(id);
        const std::shared_ptr<KovalithEffect> effect = model();
        if (vst3NormalizedFromStored(index, effect->getParameter(index)) != normalized)
            effect->setParameter(index, storedFromVst3Normalized(index, normalized));
        return kResultOk;
    }
    if (id == kProgramParamId) {
        selectProgram(programFromNormalized(normalized));
        return kResultOk;
    }
    const int controller = controllerOfParameter(id);
    if (controller < 0) return kInvalidArgument;
    controllerValues_[static_cast<std::size_t>(controller)] = normalized;
    return kResultOk;
}

v3_result Vst3Controller::setComponentHandler(v3_component_handler** handler) {
    if (handler) unknown(handler)->ref(handler);
    releaseInterface(handler_);
    handler_ = handler;
    return kResultOk;
}

v3_plugin_view** Vst3Controller::createView(const char* name) {
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    return createEditorView(*this);
}

// The values of the program come with it. The host that selected it is told
// only from the next idle call: a plug-in calling back into the host from
// inside the host's own program change can deadlock it.
void Vst3Controller::selectProgram(int program) {
    const std::shared_ptr<KovalithEffect> effect = model();
    if (program == effect->program()) return;
    effect->setProgram(program);
    restartPending_ = true;
}

const v3_component_handler* Vst3Controller::handler() const {
    return handler_ ? entries<v3_component_handler>(handler_) : nullptr;
}

void Vst3Controller::onIdle() {
    if (!restartPending_) return;
    restartPending_ = false;
    if (const v3_component_handler* h = handler()) h->restart_component(handler_, V3_RESTART_PARAM_VALUES_CHANGED);
}

// ---- the editor -------------------------------------------------------------------------

void Vst3Controller::EditorBridge::beginEdit(int index) {
    if (const v3_component_handler* h = controller_.handler())
        if (isEffectParameter(static_cast<v3_param_id>(index))) h->begin_edit(controller_.handler_, static_cast<v3_param_id>(index));
}

// The editor's value is a stored value; the host gets it normalised and
// passes it on to the processor.
void Vst3Controller::EditorBridge::performEdit(int index, float value) {
    const auto id = static_cast<v3_param_id>(index);
    if (!isEffectParameter(id) || !std::isfinite(value)) return;
    controller_.model()->setParameter(index, value);
    // The editor shows what its edit changed in the same redraw.
    if (controller_.echo_) controller_.echo_->echo(index, controller_.model()->getParameter(index));
    if (const v3_component_handler* h = controller_.handler())
        h->perform_edit(controller_.handler_, id, vst3NormalizedFromStored(index, value));
}

void Vst3Controller::EditorBridge::endEdit(int index) {
    if (const v3_component_handler* h = controller_.handler())
        if (isEffectParameter(static_cast<v3_param_id>(index))) h->end_edit(controller_.handler_, static_cast<v3_param_id>(index));
}

// Learning happens where the controllers arrive: in the processor's effect.
void Vst3Controller::EditorBridge::learnCommand(int index, float value) {
    controller_.model()->setParameter(kLearnCommandBase + index, value);
}

// ---- MIDI mapping, units, connection -----------------------------------------------------

v3_result Vst3Controller::getMidiControllerAssignment(int32_t bus, int16_t, int16_t controller, v3_param_id* id) {
    if (!id || bus != 0 || controller < 0 || controller >= kNumLearnableControllers) return kResultFalse;
    *id = kControllerParamBase + static_cast<v3_param_id>(controller);
    return kResultOk;
}

v3_result Vst3Controller::getUnitInfo(int32_t index, v3_unit_info* info) {
    if (!info || index != 0) return kInvalidArgument;
    *info = v3_unit_info{};
    info->id = kRootUnitId;
    info->parent_unit_id = -1;
    toUtf16(info->name, 128, kPluginName);
    info->program_list_id = kProgramListId;
    return kResultOk;
}

v3_result Vst3Controller::getProgramListInfo(int32_t index, v3_program_list_info* info) {
    if (!info || index != 0) return kInvalidArgument;
    *info = v3_program_list_info{};
    info->id = kProgramListId;
    toUtf16(info->name, 128, "Programs");
    info->programCount = kNumPrograms;
    return kResultOk;
}

v3_result Vst3Controller::getProgramName(int32_t listId, int32_t program, v3_str_128 name) {
    if (!name || listId != kProgramListId || program < 0 || program >= kNumPrograms) return kInvalidArgument;
    char text[kProgramNameSize];
    model()->getProgramNameIndexed(program, text);
    toUtf16(name, 128, text);
    return kResultOk;
}

v3_result Vst3Controller::getUnitByBus(int32_t, int32_t, int32_t, int32_t, int32_t* unit) {
    if (!unit) return kInvalidArgument;
    *unit = kRootUnitId;
    return kResultOk;
}

v3_result Vst3Controller::connect(v3_connection_point** other) { return other ? kResultOk : kInvalidArgument; }

// The effect stays as it is: a host reconnecting gives the same one again.
v3_result Vst3Controller::disconnect(v3_connection_point**) { return kResultOk; }

v3_result Vst3Controller::notify(v3_message** message) {
    const uint64_t number = linkNumber(message);
    if (number == 0) return kResultFalse;
    linked_ = findEffect(number);
    return kResultOk;
}

}  // namespace kovalith::vst3
