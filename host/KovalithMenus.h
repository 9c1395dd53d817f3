// Kovalith's menus of more than two items travel through the VST 2.4 interface
// as their item's position in 0..1, item / (items - 1). The host's options and
// listings speak of the item, as the program records and presets do.
#pragma once

#include <string>

#include "effect/Parameters.h"
#include "host/PluginHost.h"

namespace kovalith {
namespace host {

// True for a positioned menu of Kovalith; other plug-ins' parameters pass as they are.
inline bool isKovalithMenu(const PluginInstance& plugin, int index) {
    return plugin.uniqueID() == vst2::fourCC('Q', 'Z', 'V', 'M') && plugin.numParams() == kNumParams &&
           isPositionedMenu(index);
}

// The item a menu's position selects, as --set takes it: ' (item 6 "1/16")'.
inline std::string menuItemText(int index, float position) {
    const int item = static_cast<int>(plainFromStored(index, storedFromNormalised(index, position)));
    return " (item " + std::to_string(item) + " \"" + describeParameter(index).labels[item] + "\")";
}

}  // namespace host
}  // namespace kovalith
