// `kovalith validate`: runs the validator's groups against a plug-in and
// prints one verdict per check, then the totals.
#include "host/Commands.h"
#include "host/ParameterOptions.h"
#include "host/validate/Validate.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <optional>

namespace kovalith {
namespace host {
namespace {

constexpr const char* kUsage = "validate [--strictness 1..10] [--seed N] [--only GROUP] [PLUGIN.so]";

int usage(const std::string& message) {
    std::cerr << "kovalith: " << message << "\nusage: kovalith [options] " << kUsage << "\n";
    return kExitUsage;
}

std::optional<long long> parseWhole(const std::string& text, long long lo, long long hi) {
    const std::optional<double> number = parseNumber(text);
    if (!number || std::floor(*number) != *number || *number < lo || *number > hi) return std::nullopt;
    return static_cast<long long>(*number);
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
            if (!knownGroup(value)) return usage("unknown group '" + value + "'");
            settings.only = value;
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

int runValidate(const CommonOptions& options, const std::vector<std::string>& args) {
    validate::Settings settings;
    settings.pluginPath = options.pluginPath;
    if (const std::optional<int> code = parseArguments(args, settings)) return *code;

    std::cout << "validating " << settings.pluginPath << " at strictness " << settings.strictness << ", seed "
              << settings.seed << std::endl;
    validate::Session session(settings, std::cout);
    for (const validate::Group& group : validate::groups()) {
        if (!settings.only.empty() && settings.only != group.name) continue;
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

const CommandRegistrar validateCommand({"validate", kUsage,
                                        "run a battery of host checks on a plug-in (default: Kovalith)", nullptr,
                                        runValidate});

}  // namespace
}  // namespace host
}  // namespace kovalith
