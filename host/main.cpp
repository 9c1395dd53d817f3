// kovalith: a small command-line VST 2.4 host for the Kovalith plug-in (and
// any other Linux VST 2.4 effect).
#include "host/Commands.h"
#include "host/ParameterOptions.h"
#include "host/PresetFiles.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>

namespace kovalith {
namespace host {
namespace {

constexpr int kMaxBlockSize = 1 << 16;
constexpr double kMaxSampleRate = 1536000.0;

void printUsage(std::ostream& out) {
    out << "usage: kovalith [options] COMMAND [arguments]\n"
           "\n"
           "A command-line VST 2.4 host for the Kovalith effect and other Linux VST 2.4\n"
           "effects: render audio files through it, draw or open its editor, keep its\n"
           "presets in files, and check a plug-in the way hosts drive it.\n"
           "\n"
           "Options (before the command):\n"
           "  --plugin PATH      the plug-in to load (default: Kovalith.so beside this\n"
           "                     program, else the installed ../lib/vst/Kovalith.so)\n"
           "  --load FILE        apply a .fxb bank or .fxp program before the command runs\n"
           "  --sample-rate HZ   sample rate given to the plug-in (default 44100)\n"
           "  --block-size N     largest block given to the plug-in (default 512)\n"
           "  --version          print the version\n"
           "  --help, -h         print this text\n"
           "\n"
           "Commands:\n";
    for (const Command& command : commands()) {
        std::string name = command.name;
        name.resize(std::max<size_t>(name.size(), 13), ' ');
        out << "  " << name << " " << command.summary << "\n";
    }
    out << "  help COMMAND  a command's options and examples (also: COMMAND --help)\n"
           "\n"
           "Exit codes: 0 success, 1 a failure (a file or the plug-in), 2 a usage error.\n"
           "\n"
           "Examples:\n"
           "  kovalith demo\n"
           "  kovalith render in.wav out.flac --preset \"Skaro Defence Force\" --tail 2\n"
           "  kovalith help render\n";
}

int usageError(const std::string& message) {
    std::cerr << "kovalith: " << message << "\n";
    printUsage(std::cerr);
    return kExitUsage;
}

// The Kovalith.so in the folder of this executable (a build tree), else the
// one installed with it: <prefix>/bin/kovalith uses <prefix>/lib/vst/Kovalith.so.
std::string defaultPluginPath() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "Kovalith.so";
    std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
    const std::string beside = folder + "/Kovalith.so";
    const std::string prefix = folder.substr(0, folder.rfind('/'));
    const std::string installed = prefix + "/" KOVALITH_VST_DIR "/Kovalith.so";
    return access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

struct ParsedCommandLine {
    CommonOptions options;
    std::string command;
    std::vector<std::string> args;
};

// Parses the options before the subcommand; answers an exit code on a usage error.
std::optional<int> parseCommandLine(int argc, char** argv, ParsedCommandLine& parsed) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg == "--help" || arg == "--version") break;
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else if (arg == "--plugin" || arg == "--load" || arg == "--sample-rate" || arg == "--block-size") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--plugin") {
            parsed.options.pluginPath = value;
        } else if (arg == "--load") {
            parsed.options.loadFile = value;
        } else if (arg == "--sample-rate") {
            const std::optional<double> rate = parseNumber(value);
            // Audio files store whole rates of at least 1 Hz.
            if (!rate || *rate < 1.0 || *rate > kMaxSampleRate)
                return usageError("bad sample rate '" + value + "' (1 to 1536000 Hz)");
            parsed.options.sampleRate = *rate;
        } else if (arg == "--block-size") {
            const std::optional<double> size = parseNumber(value);
            if (!size || *size < 1 || *size > kMaxBlockSize || std::floor(*size) != *size)
                return usageError("bad block size '" + value + "'");
            parsed.options.blockSize = static_cast<int>(*size);
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (i >= argc) return usageError("no command given");
    parsed.command = argv[i];
    parsed.args.assign(argv + i + 1, argv + argc);
    return std::nullopt;
}

int run(int argc, char** argv) {
    if (argc <= 1) {
        printUsage(std::cout);
        return kExitSuccess;
    }
    ParsedCommandLine parsed;
    if (const std::optional<int> code = parseCommandLine(argc, argv, parsed)) return *code;
    if (parsed.command == "--version") {
        std::cout << "kovalith " KOVALITH_VERSION "\n";
        return kExitSuccess;
    }
    if (parsed.command == "help" || parsed.command == "--help" || parsed.command == "-h") {
        if (parsed.args.empty() || parsed.args[0] == "help") {
            printUsage(std::cout);
            return kExitSuccess;
        }
        const Command* command = findCommand(parsed.args[0]);
        if (!command || parsed.args.size() > 1)
            return usageError(command ? "help takes one command" : "unknown command '" + parsed.args[0] + "'");
        printCommandHelp(*command, std::cout);
        return kExitSuccess;
    }
    const Command* command = findCommand(parsed.command);
    if (!command) return usageError("unknown command '" + parsed.command + "'");
    // A command's own help needs no plug-in.
    for (const std::string& arg : parsed.args)
        if (arg == "--help" || arg == "-h") {
            printCommandHelp(*command, std::cout);
            return kExitSuccess;
        }

    CommonOptions& options = parsed.options;
    if (options.pluginPath.empty()) options.pluginPath = defaultPluginPath();
    if (command->standalone) {
        const int code = command->standalone(options, parsed.args);
        std::cout.flush();
        return code;
    }
    std::string error;
    std::unique_ptr<PluginInstance> plugin = PluginInstance::load(options.pluginPath, &error);
    if (!plugin) {
        std::cerr << "kovalith: " << error << "\n";
        return kExitFailure;
    }
    plugin->setSampleRate(options.sampleRate);
    plugin->setBlockSize(options.blockSize);
    if (!options.loadFile.empty() && !loadPresetFile(*plugin, options.loadFile, &error)) {
        std::cerr << "kovalith: " << error << "\n";
        return kExitFailure;
    }
    CommandContext context{*plugin, options, *command, std::cout, std::cerr};
    const int code = command->run(context, parsed.args);
    std::cout.flush();
    return code;
}

}  // namespace
}  // namespace host
}  // namespace kovalith

int main(int argc, char** argv) { return kovalith::host::run(argc, argv); }
