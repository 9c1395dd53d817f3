// How the effect's parameters travel as VST3 parameters. A host sees every
// parameter as a normalised value 0..1: stepped parameters (menus, switches,
// "Filter Type") as item / (items - 1), the others as the stored value.
// The processor and the controller both convert through here, so they agree.
#pragma once

#include "vst3/Vst3Com.h"
#include "vst3/Vst3Ids.h"

namespace kovalith::vst3 {

// The parameters a host lists, in order: the effect's exposed ones by index,
// then the program selector, then the hidden controller parameters.
int listedParameterCount();
// The id at list position `position`, or -1 outside the list.
int64_t listedParameterId(int position);
// Fills `info` for list position `position`; false outside the list.
bool describeListed(int position, v3_param_info& info);

// True for the id of an effect parameter a host may set (an exposed index).
bool isEffectParameter(v3_param_id id);
// The controller number (0 to 125) of a hidden controller parameter, or -1.
int controllerOfParameter(v3_param_id id);

// VST3 moves every stepped parameter (menus, switches, "Filter Type") as
// item / (items - 1), unlike the VST 2.4 interface, which positions menus only.
double vst3NormalizedFromStored(int index, float stored);
float storedFromVst3Normalized(int index, double normalized);
double normalizedFromProgram(int program);
int programFromNormalized(double normalized);

// The VST3 "plain" value: the item number of a stepped parameter or program,
// the normalised value otherwise.
double plainFromNormalized(v3_param_id id, double normalized);
double normalizedFromPlain(v3_param_id id, double plain);

}  // namespace kovalith::vst3
