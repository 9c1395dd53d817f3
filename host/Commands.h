// The subcommands of the `kovalith` host.
//
// Each command lives in its own Command*.cpp and registers itself with a
// CommandRegistrar at static-initialisation time; main() parses the common
// options, loads the plug-in and hands the command a CommandContext.
#pragma once

#include "host/PluginHost.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kovalith {
namespace host {

enum ExitCode : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2 };

// The options given before the subcommand.
struct CommonOptions {
    std::string pluginPath;     // the plug-in actually loaded
    std::string loadFile;       // .fxb / .fxp applied before the command; empty: none
    double sampleRate = 44100.0;
    int blockSize = 512;
};

struct Command;

struct CommandContext {
    PluginInstance& plugin;
    const CommonOptions& options;
    const Command& command;
    std::ostream& out;
    std::ostream& err;

    // Prints the message and the command's usage line on `err`; answers kExitUsage.
    int usageError(const std::string& message) const;
    // Prints the message on `err`; answers kExitFailure.
    int failure(const std::string& message) const;
    // Prints "kovalith: COMMAND: message" on `err`: something the user should know.
    void warn(const std::string& message) const;
};

// Runs the command with the arguments after its name; answers an ExitCode.
using CommandFunction = int (*)(CommandContext& context, const std::vector<std::string>& args);
// The same for a command that loads plug-ins itself (in processes of its own).
using StandaloneFunction = int (*)(const CommonOptions& options, const std::vector<std::string>& args);

struct Command {
    const char* name;       // "export-fxp"
    const char* usage;      // "export-fxp FILE.fxp [--preset N|NAME] [--set NAME=VALUE]..."
    const char* summary;    // one line for the global help
    const char* help;       // its own help: what it does, its options, examples (80 columns)
    CommandFunction run;
    // Set instead of `run` by commands for which main() must load nothing.
    StandaloneFunction standalone = nullptr;
};

// The help lines of --preset and --set, for the commands that take them.
#define KOVALITH_PARAMETER_OPTIONS_HELP                                               \
    "  --preset N|NAME    a program by number (0 to 31 for Kovalith) or name\n"     \
    "  --set NAME=VALUE   a parameter by name or number. A bare number is the value\n" \
    "                     a host sends: 0 to 1, a menu its item number. Kovalith\n" \
    "                     also takes its units and menu items as `kovalith params`\n" \
    "                     shows them (\"Delay=250 ms\", \"LFO 1 Shape=tri\").\n"     \
    "                     Repeatable, applied in order after the preset. A name\n"   \
    "                     two parameters share needs the number (\"A Res\" is 5;\n"  \
    "                     8 is a reserved twin).\n"

// Prints the command's usage line and help.
void printCommandHelp(const Command& command, std::ostream& out);

// Every registered command, ordered by name.
const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

struct CommandRegistrar {
    explicit CommandRegistrar(const Command& command);
};

}  // namespace host
}  // namespace kovalith
