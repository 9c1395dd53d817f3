// The options that set the plug-in's state before a command works with it:
// `--preset N|NAME` chooses a program, `--set NAME=VALUE` (repeatable) sets one
// parameter. Shared by the commands that render, draw or open the plug-in.
#pragma once

#include "host/PluginHost.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kovalith {
namespace host {

struct ParameterOptions {
    std::optional<std::string> preset;                          // a program number or name
    std::vector<std::pair<std::string, std::string>> settings;  // NAME, VALUE in the given order
};

// Takes --preset and --set (as "--opt VALUE" or "--opt=VALUE") out of `args`,
// leaving every other argument in order. False, with `error` set, for an
// option without its value or a --set without '='.
bool extractParameterOptions(std::vector<std::string>& args, ParameterOptions& options, std::string* error);

// A finite decimal number and nothing else.
std::optional<double> parseNumber(const std::string& text);

// The programs' names, found without switching `plugin` through them: a
// program change may do more than set parameter values (Kovalith draws new
// random LFO tables), and a render must start from the state asked for. A
// plug-in with program chunks lends its bank to a second instance for this.
std::vector<std::string> programNamesWithoutSwitching(PluginInstance& plugin);

// The program a --preset text names: its number (0 .. numPrograms - 1) or its
// name, exact first, then ignoring case; the first of equal names wins.
std::optional<int> findProgram(PluginInstance& plugin, const std::string& text);
// The parameter a --set name names: its number, or its name, exact first,
// then ignoring case. Null, with the reason in `error`, for no parameter or
// for a name that several parameters share (they need their numbers).
std::optional<int> findParameter(PluginInstance& plugin, const std::string& text, std::string* error);

// The values a parameter takes: 0 to 1 as VST 2.4 has it, except the menus of
// a plug-in whose table we know (Kovalith), which hold their item numbers
// ("Filter Type" its type / 10).
struct ParameterRange {
    float highest = 1.0f;             // values lie in [0, highest], or [0, highest) for a menu
    int items = 0;                    // a menu's item count, 0 for other parameters
    float step = 1.0f;                // a menu's stored step per item ("Filter Type": 0.1)
    std::vector<std::string> labels;  // the items' names
};
ParameterRange parameterRange(PluginInstance& plugin, int index);

// Applies the preset, then each setting in order. The value of a setting is
// the stored parameter value (0 to 1, or the item number of a menu); it must
// be a finite number within the parameter's range. False, with `error` set,
// for an unknown program or parameter, an ambiguous name or a bad value;
// settings before the bad one stay applied.
bool applyParameterOptions(PluginInstance& plugin, const ParameterOptions& options, std::string* error);

}  // namespace host
}  // namespace kovalith
