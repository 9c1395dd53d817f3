// export-fxb / export-fxp: write the plug-in's bank or current program.
#include "host/Commands.h"
#include "host/PresetFiles.h"

#include <cctype>
#include <ostream>

namespace kovalith {
namespace host {

namespace {

int exportPreset(CommandContext& context, const std::vector<std::string>& args, const char* extension) {
    if (args.size() != 1) return context.usageError(std::string(context.command.name) + " needs one FILE");
    const std::string& path = args[0];
    std::string suffix = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (suffix != extension)
        return context.usageError("the file name must end in " + std::string(extension));
    std::string error;
    if (!savePresetFile(context.plugin, path, &error)) return context.failure(error);
    return kExitSuccess;
}

int runExportFxb(CommandContext& context, const std::vector<std::string>& args) {
    return exportPreset(context, args, ".fxb");
}

int runExportFxp(CommandContext& context, const std::vector<std::string>& args) {
    return exportPreset(context, args, ".fxp");
}

const CommandRegistrar exportFxb({"export-fxb", "export-fxb FILE.fxb", "write the whole bank", runExportFxb});
const CommandRegistrar exportFxp({"export-fxp", "export-fxp FILE.fxp", "write the current program", runExportFxp});

}  // namespace

}  // namespace host
}  // namespace kovalith
