// The user-interface side of the VST3 plug-in: IEditController with the
// parameter list, IUnitInfo with the program list, IMidiMapping for MIDI
// learn, and the editor's view. All of it runs on the host's user-interface
// thread.
//
// The controller reads and writes the processor's own effect, which the
// processor's link message names (Vst3Link.h): what the host sets here holds
// at once, also while the processor is not processing, so its state is
// always the one the host sees (hosts save the processor's state, even of an
// inactive plug-in, and restore it over their own parameter values). The
// changes still reach the processor through the host as well, where they
// find the values already set. Until a link arrives, or in a host that never
// connects the two, the controller works on an effect of its own.
#pragma once

#include <array>
#include <memory>

#include "effect/EditController.h"
#include "effect/KovalithEffect.h"
#include "vst3/Vst3Com.h"
#include "vst3/Vst3Ids.h"

namespace kovalith::vst3 {

// The open editor, as the controller's edits reach it at once.
class IEditorEcho {
public:
    virtual void echo(int index, float value) = 0;

protected:
    ~IEditorEcho() = default;
};

class Vst3Controller : public RefCounted {
public:
    Vst3Controller();
    ~Vst3Controller() override;

    v3_result queryInterface(const v3_tuid iid, void** out);

    // IPluginBase
    v3_result initialize(v3_funknown** context);
    v3_result terminate();

    // IEditController
    v3_result setComponentState(v3_bstream** stream);
    v3_result setState(v3_bstream** stream);
    v3_result getState(v3_bstream** stream);
    int32_t getParameterCount();
    v3_result getParameterInfo(int32_t position, v3_param_info* info);
    v3_result getParamStringByValue(v3_param_id id, double normalized, v3_str_128 text);
    v3_result getParamValueByString(v3_param_id id, int16_t* text, double* normalized);
    double normalizedParamToPlain(v3_param_id id, double normalized);
    double plainParamToNormalized(v3_param_id id, double plain);
    double getParamNormalized(v3_param_id id);
    v3_result setParamNormalized(v3_param_id id, double normalized);
    v3_result setComponentHandler(v3_component_handler** handler);
    v3_plugin_view** createView(const char* name);

    // IMidiMapping: controllers 0 to 125 of any channel, each to its hidden parameter.
    v3_result getMidiControllerAssignment(int32_t bus, int16_t channel, int16_t controller, v3_param_id* id);

    // IUnitInfo: one unit with the list of the 32 programs.
    int32_t getUnitCount() { return 1; }
    v3_result getUnitInfo(int32_t index, v3_unit_info* info);
    int32_t getProgramListCount() { return 1; }
    v3_result getProgramListInfo(int32_t index, v3_program_list_info* info);
    v3_result getProgramName(int32_t listId, int32_t program, v3_str_128 name);
    v3_result getProgramInfo(int32_t, int32_t, const char*, v3_str_128) { return kResultFalse; }
    v3_result hasProgramPitchNames(int32_t, int32_t) { return kResultFalse; }
    v3_result getProgramPitchName(int32_t, int32_t, int16_t, v3_str_128) { return kResultFalse; }
    int32_t getSelectedUnit() { return kRootUnitId; }
    v3_result selectUnit(int32_t unit) { return unit == kRootUnitId ? kResultOk : kResultFalse; }
    v3_result getUnitByBus(int32_t type, int32_t direction, int32_t bus, int32_t channel, int32_t* unit);
    v3_result setUnitProgramData(int32_t, int32_t, v3_bstream**) { return kResultFalse; }

    // IConnectionPoint: the processor's message says where its effect is.
    v3_result connect(v3_connection_point** other);
    v3_result disconnect(v3_connection_point** other);
    v3_result notify(v3_message** message);

    // For the view: what its editor talks to, and where the editor's own
    // edits come back to it (null while closed).
    IEditController& editorController() { return bridge_; }
    void setEditorEcho(IEditorEcho* echo) { echo_ = echo; }
    // The view's timer: what had to wait until the host's call returned.
    void onIdle();

    // The effect the controller works on.
    std::shared_ptr<KovalithEffect> model();

private:
    class EditorBridge : public IEditController {
    public:
        explicit EditorBridge(Vst3Controller& controller) : controller_(controller) {}
        float parameterValue(int index) override { return controller_.model()->getParameter(index); }
        float syncedValue(int index) override { return controller_.model()->getSyncedValue(index); }
        DisplayContext displayContext() override { return controller_.model()->displayContext(); }
        void beginEdit(int index) override;
        void performEdit(int index, float value) override;
        void endEdit(int index) override;
        void learnCommand(int index, float value) override;

    private:
        Vst3Controller& controller_;
    };

    void selectProgram(int program);
    const v3_component_handler* handler() const;

    Face controllerFace_;
    Face midiMappingFace_;
    Face unitInfoFace_;
    Face connectionFace_;
    EditorBridge bridge_{*this};

    std::array<double, kNumLearnableControllers> controllerValues_{};
    v3_component_handler** handler_ = nullptr;
    std::weak_ptr<KovalithEffect> linked_;
    std::shared_ptr<KovalithEffect> own_;
    bool restartPending_ = false;
    IEditorEcho* echo_ = nullptr;
};

}  // namespace kovalith::vst3
