// `kovalith validate`: runs the validator's groups against a plug-in and
// prints one verdict per check, then the totals.
#include "host/Commands.h"
#include "host/OutputFile.h"
#include "host/ParameterOptions.h"
#include "host/validate/Validate.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <iostream>
#include <optional>
#include <sstream>

namespace kovalith {
namespace host {
namespace {

constexpr const char* kUsage = "validate [OPTIONS] [PLUGIN.so]";

int usage(const std::string& message) {
    std::cerr << "kovalith: " << message << "\nusage: kovalith [options] " << kUsage << "\n"
              << "(kovalith help validate shows the options and examples)\n";
    return kExitUsage;
}

std::optional<long long> parseWhole(const std::string& text, long long lo, long long hi) {
    const std::optional<double> number = parseNumber(text);
    if (!number || std::floor(*number) != *number || *number < lo || *number > hi) return std::nullopt;
    return static_cast<long long>(*number);
}

std::string groupNames() {
    std::string names;
    for (const validate::Group& group : validate::groups()) names += (names.empty() ? "" : ", ") + std::string(group.name);
    return names;
}

bool knownGroup(const std::string& name) {
    for (const validate::Group& group : validate::groups())
        if (name == group.name) return true;
    return false;
}

// Parses the arguments into `settings`; answers an exit code on a usage error.
std::optional<int> parseArguments(const std::vector<std::string>& args, validate::Settings& settings) {
    bool seeded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        const bool isOption = arg.rfind("--", 0) == 0;
        if (isOption) {
            const size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg.resize(equals);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return usage(arg + " needs a value");
            }
        }
        if (arg == "--strictness") {
            const std::optional<long long> level = parseWhole(value, 1, 10);
            if (!level) return usage("bad strictness '" + value + "' (1 to 10)");
            settings.strictness = static_cast<int>(*level);
        } else if (arg == "--seed") {
            const std::optional<long long> seed = parseWhole(value, 0, 1LL << 53);
            if (!seed) return usage("bad seed '" + value + "'");
            settings.seed = static_cast<uint64_t>(*seed);
            seeded = true;
        } else if (arg == "--only") {
            std::istringstream names(value);
            std::string name;
            while (std::getline(names, name, ',')) {
                if (!knownGroup(name)) return usage("unknown group '" + name + "' (" + groupNames() + ")");
                settings.only.insert(name);
            }
            if (settings.only.empty()) return usage("--only needs a group (" + groupNames() + ")");
        } else if (isOption) {
            return usage("unknown option '" + arg + "'");
        } else {
            settings.pluginPath = arg;
        }
    }
    if (!seeded) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        settings.seed = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) %
                        1000000000ull;
    }
    return std::nullopt;
}

// Why `path` is not a plug-in library at all, or empty when it is one. Tried
// in a child process, as every check is: a library that crashes while it
// loads is left to the checks to report.
std::string whyNotAPlugin(const std::string& path) {
    struct stat file {};
    if (stat(path.c_str(), &file) == 0 && S_ISDIR(file.st_mode)) return "it is a folder";
    int reason[2];
    if (pipe(reason) != 0) return {};
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        close(reason[0]);
        std::string why;
        const bool plugin = PluginInstance::isPluginLibrary(path, &why);
        if (!plugin) {
            const ssize_t ignored = write(reason[1], why.data(), why.size());
            (void)ignored;
        }
        _exit(plugin ? 0 : 1);
    }
    close(reason[1]);
    std::string why;
    char buffer[256];
    for (ssize_t n; child > 0 && (n = read(reason[0], buffer, sizeof buffer)) > 0;) why.append(buffer, static_cast<size_t>(n));
    close(reason[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) return {};
    // The loader's messages start with the path, which our message gives already.
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    return why.empty() ? "it cannot be loaded" : why;
}

int runValidate(const CommonOptions& options, const std::vector<std::string>& args) {
    // Every check sets its own state, rate and block size.
    if (!options.loadFile.empty()) return usage("--load does not apply to validate");
    validate::Settings settings;
    settings.pluginPath = options.pluginPath;
    if (const std::optional<int> code = parseArguments(args, settings)) return *code;
    // Only the checks' own processes load it; here it just has to be there.
    if (access(settings.pluginPath.c_str(), R_OK) != 0) {
        std::cerr << "kovalith: cannot read the plug-in " << settings.pluginPath << ": " << systemMessage(errno)
                  << "\n";
        return kExitFailure;
    }
    const std::string notAPlugin = whyNotAPlugin(settings.pluginPath);
    if (!notAPlugin.empty()) {
        std::cerr << "kovalith: " << settings.pluginPath << " is not a VST 2.4 plug-in: " << notAPlugin << "\n";
        return kExitFailure;
    }

    std::cout << "validating " << settings.pluginPath << " at strictness " << settings.strictness << ", seed "
              << settings.seed << std::endl;
    validate::Session session(settings, std::cout);
    for (const validate::Group& group : validate::groups()) {
        if (!settings.only.empty() && settings.only.count(group.name) == 0) continue;
        const auto start = std::chrono::steady_clock::now();
        group.run(session);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::cerr << "kovalith: group " << group.name << " took " << took.count() << " s\n";
    }
    std::cout << session.passed() << " passed, " << session.failed() << " failed";
    if (session.skipped() > 0) std::cout << ", " << session.skipped() << " skipped";
    std::cout << std::endl;
    return session.failed() == 0 ? kExitSuccess : kExitFailure;
}

const CommandRegistrar validateCommand(
    {"validate", kUsage, "run a battery of host checks on a plug-in (default: Kovalith)",
     "Drives a Linux VST 2.4 plug-in as hostile but legal hosts do, every check\n"
     "in a process of its own, and prints one verdict per check (PASS, FAIL with\n"
     "what went wrong, or SKIP with the reason), then the totals. A crash names\n"
     "the call that was running. Exits 1 when anything failed.\n"
     "\n"
     "Options:\n"
     "  --strictness 1..10   how many cases and how long (default 5)\n"
     "  --seed N             replay a run's random choices\n"
     "  --only GROUP,...     run only these groups: load, dispatcher, parameters,\n"
     "                       state, events, blocks, threads, editor\n"
     "\n"
     "Examples:\n"
     "  kovalith validate\n"
     "  kovalith validate --strictness 10 /usr/lib/vst/MVerb-vst.so\n"
     "  kovalith validate --only state,threads --seed 42\n",
     nullptr, runValidate});

}  // namespace
}  // namespace host
}  // namespace kovalith
