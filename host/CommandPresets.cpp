// export-fxb / export-fxp: write the plug-in's bank or current program.
#include "host/Commands.h"
#include "host/ParameterOptions.h"
#include "host/PresetFiles.h"

#include <cctype>
#include <ostream>

namespace kovalith {
namespace host {

namespace {

int exportPreset(CommandContext& context, const std::vector<std::string>& arguments, const char* extension) {
    std::vector<std::string> args = arguments;
    ParameterOptions options;
    std::string error;
    if (!extractParameterOptions(args, options, &error)) return context.usageError(error);
    if (args.size() != 1) return context.usageError(std::string(context.command.name) + " needs one FILE");
    if (args[0].rfind("--", 0) == 0) return context.usageError("unexpected '" + args[0] + "'");
    const std::string& path = args[0];
    std::string suffix = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (suffix != extension)
        return context.usageError("the file name must end in " + std::string(extension));
    if (!applyParameterOptions(context.plugin, options, &error)) return context.usageError(error);
    if (!savePresetFile(context.plugin, path, &error)) return context.failure(error);
    return kExitSuccess;
}

int runExportFxb(CommandContext& context, const std::vector<std::string>& args) {
    return exportPreset(context, args, ".fxb");
}

int runExportFxp(CommandContext& context, const std::vector<std::string>& args) {
    return exportPreset(context, args, ".fxp");
}

const CommandRegistrar exportFxb(
    {"export-fxb", "export-fxb FILE.fxb [OPTIONS]", "write the whole bank",
     "Writes every program of the plug-in into a bank file: the bank chunk\n"
     "(FBCh) for plug-ins with program chunks, such as Kovalith, else one\n"
     "parameter record per program (FxBk). The preset and the settings change\n"
     "the bank before it is written, and the preset becomes its current program.\n"
     "\n"
     "Options:\n" KOVALITH_PARAMETER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith export-fxb factory.fxb\n"
     "  kovalith --load old.fxb export-fxb new.fxb --preset 3 --set Mix=0.8\n",
     runExportFxb});
const CommandRegistrar exportFxp(
    {"export-fxp", "export-fxp FILE.fxp [OPTIONS]", "write the current program",
     "Writes the current program into a program file: the program chunk (FPCh)\n"
     "for plug-ins with program chunks, else its parameter values (FxCk).\n"
     "\n"
     "Options:\n" KOVALITH_PARAMETER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith export-fxp skaro.fxp --preset \"Skaro Defence Force\"\n"
     "  kovalith export-fxp dry.fxp --preset 0 --set Mix=0\n",
     runExportFxp});

}  // namespace

}  // namespace host
}  // namespace kovalith
