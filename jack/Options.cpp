#include "jack/Options.h"

#include <cstring>

namespace kovalith {
namespace jack {

const char* usageText() {
    return "usage: kovalith-jack [options]\n"
           "\n"
           "Runs Kovalith as a JACK client with ports in_L, in_R, out_L, out_R and midi_in.\n"
           "\n"
           "  -n, --name NAME      JACK client name (default Kovalith)\n"
           "  --connect            connect to the system's capture and playback ports\n"
           "  --program N          start with program N (0 to 31)\n"
           "  --preset NAME        start with the program of that name\n"
           "  --state FILE         load a bank (.fxb from kovalith export-fxb) or a saved state\n"
           "  --save               write the state back to the --state file at exit\n"
           "  --set NAME=VALUE     set a parameter, the value as the editor shows it (repeatable)\n"
           "  --no-gui             run without the editor window\n"
           "  --help               show this text\n"
           "  --version            show the version\n"
           "\n"
           "Control changes on midi_in drive the parameters learned in the editor.\n"
           "SIGINT or SIGTERM stops the program (saving first with --save).\n";
}

std::optional<Options> parseOptions(int argc, const char* const* argv, std::string* error) {
    Options options;
    auto fail = [&](const std::string& message) {
        if (error) *error = message;
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            const size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                arg.resize(equals);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < argc) return std::string(argv[++i]);
            return std::nullopt;
        };
        const bool takesValue = arg == "-n" || arg == "--name" || arg == "--program" || arg == "--preset" ||
                                arg == "--state" || arg == "--set";
        if (!takesValue && inlineValue) return fail(arg + " takes no value");
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--no-gui") {
            options.gui = false;
        } else if (arg == "--connect") {
            options.connectSystem = true;
        } else if (arg == "--save") {
            options.save = true;
        } else if (takesValue) {
            const std::optional<std::string> v = value();
            if (!v) return fail(arg + " needs a value");
            if (arg == "-n" || arg == "--name") {
                if (v->empty()) return fail("the client name is empty");
                options.clientName = *v;
            } else if (arg == "--program" || arg == "--preset") {
                if (options.program) return fail("give one of --program and --preset");
                options.program = *v;
            } else if (arg == "--state") {
                options.stateFile = *v;
            } else {
                const size_t equals = v->find('=');
                if (equals == std::string::npos || equals == 0) return fail("--set needs NAME=VALUE, not '" + *v + "'");
                options.settings.emplace_back(v->substr(0, equals), v->substr(equals + 1));
            }
        } else {
            return fail("unknown option '" + arg + "'");
        }
    }
    if (options.save && options.stateFile.empty()) return fail("--save needs a --state FILE to save to");
    return options;
}

}  // namespace jack
}  // namespace kovalith
