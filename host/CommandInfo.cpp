// info: what a host sees of the plug-in.
#include "host/Commands.h"
#include "host/KovalithMenus.h"
#include "host/PresetFiles.h"

#include <cstdio>
#include <ostream>

namespace kovalith {
namespace host {

namespace {

// The capabilities a host usually asks an effect about.
const char* const kCommonCanDos[] = {
    "sendVstEvents",    "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent",
    "receiveVstTimeInfo", "offline",        "midiProgramNames", "bypass",
};

struct FlagName {
    int32_t bit;
    const char* name;
};
const FlagName kFlagNames[] = {
    {vst2::effFlagsHasEditor, "HasEditor"},         {vst2::effFlagsCanReplacing, "CanReplacing"},
    {vst2::effFlagsProgramChunks, "ProgramChunks"}, {vst2::effFlagsIsSynth, "IsSynth"},
    {vst2::effFlagsNoSoundInStop, "NoSoundInStop"}, {vst2::effFlagsCanDoubleReplacing, "CanDoubleReplacing"},
};

std::string hex(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string decodeFlags(int32_t flags) {
    std::string names;
    int32_t known = 0;
    for (const FlagName& flag : kFlagNames) {
        known |= flag.bit;
        if (flags & flag.bit) names += (names.empty() ? "" : " ") + std::string(flag.name);
    }
    if (flags & ~known) names += (names.empty() ? "" : " ") + ("other " + hex(flags & ~known));
    return names.empty() ? "none" : names;
}

const char* canDoText(int answer) { return answer > 0 ? "yes" : (answer < 0 ? "no" : "don't know"); }

void printIdentity(CommandContext& context) {
    PluginInstance& plugin = context.plugin;
    std::ostream& out = context.out;
    out << "Plug-in:         " << plugin.path() << "\n"
        << "Effect name:     " << plugin.effectName() << "\n"
        << "Vendor:          " << plugin.vendor() << "\n"
        << "Product:         " << plugin.product() << "\n"
        << "Vendor version:  " << plugin.vendorVersion() << "\n"
        << "Unique ID:       '" << fourCharCode(plugin.uniqueID()) << "' (" << hex(plugin.uniqueID()) << ")\n"
        << "Effect version:  " << plugin.version() << "\n"
        << "VST version:     " << plugin.vstVersion() << "\n"
        << "Inputs:          " << plugin.numInputs() << "\n"
        << "Outputs:         " << plugin.numOutputs() << "\n"
        << "Initial delay:   " << plugin.effect()->initialDelay << "\n"
        << "Flags:           " << hex(plugin.flags()) << " (" << decodeFlags(plugin.flags()) << ")\n";
}

void printCanDos(CommandContext& context) {
    context.out << "Can do:\n";
    for (const char* what : kCommonCanDos) {
        const int answer = context.plugin.canDo(what);
        context.out << "  " << what << ": " << canDoText(answer) << "\n";
    }
}

void printParameters(CommandContext& context) {
    PluginInstance& plugin = context.plugin;
    context.out << "Parameters (" << plugin.numParams() << "):\n";
    for (int i = 0; i < plugin.numParams(); ++i) {
        char value[32];
        std::snprintf(value, sizeof value, "%.6g", static_cast<double>(plugin.getParameter(i)));
        context.out << "  " << i << "\t" << plugin.parameterName(i) << "\tlabel \"" << plugin.parameterLabel(i)
                    << "\"\tdisplay \"" << plugin.parameterDisplay(i) << "\"\tvalue " << value;
        if (isKovalithMenu(plugin, i)) context.out << menuItemText(i, plugin.getParameter(i));
        context.out << "\n";
    }
}

void printPrograms(CommandContext& context) {
    PluginInstance& plugin = context.plugin;
    const std::vector<std::string> names = plugin.programNames();
    context.out << "Programs (" << names.size() << "), current " << plugin.currentProgram() << ":\n";
    for (size_t p = 0; p < names.size(); ++p) context.out << "  " << p << "\t" << names[p] << "\n";
}

int runInfo(CommandContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) return context.usageError("info takes no arguments");
    printIdentity(context);
    printCanDos(context);
    // Parameters first: listing program names may have to switch programs.
    printParameters(context);
    printPrograms(context);
    return kExitSuccess;
}

const CommandRegistrar info({"info", "info", "show identity, capabilities, parameters and programs",
                             "Prints what a host sees of the plug-in: its name, vendor, versions and\n"
                             "unique ID, channels, flags, answers to common canDo questions, every\n"
                             "parameter (number, name, label, display, value) and every program.\n"
                             "\n"
                             "Examples:\n"
                             "  kovalith info\n"
                             "  kovalith --plugin /usr/lib/vst/MVerb-vst.so info\n"
                             "  kovalith --load my-bank.fxb info\n",
                             runInfo});

}  // namespace

}  // namespace host
}  // namespace kovalith
