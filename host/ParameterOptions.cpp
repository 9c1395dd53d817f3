#include "host/ParameterOptions.h"
#include "host/KovalithMenus.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kovalith {
namespace host {

namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A whole decimal number and nothing else.
std::optional<long> parseWholeNumber(const std::string& text) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

std::optional<float> parseValue(const std::string& text) {
    const std::optional<double> value = parseNumber(text);
    if (!value || std::fabs(*value) > 3.4e38) return std::nullopt;
    return static_cast<float>(*value);
}

// The index of `text` among `names`: exact first, then ignoring case.
std::optional<int> findName(const std::vector<std::string>& names, const std::string& text) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == text) return static_cast<int>(i);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!names[i].empty() && equalIgnoringCase(names[i], text)) return static_cast<int>(i);
    return std::nullopt;
}

}  // namespace

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool extractParameterOptions(std::vector<std::string>& args, ParameterOptions& options, std::string* error) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            hasValue = true;
        }
        if (arg != "--preset" && arg != "--set") {
            rest.push_back(args[i]);
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                if (error) *error = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (arg == "--preset") {
            options.preset = value;
            continue;
        }
        const std::size_t split = value.rfind('=');
        if (split == std::string::npos || split == 0) {
            if (error) *error = "--set needs NAME=VALUE, not '" + value + "'";
            return false;
        }
        options.settings.emplace_back(value.substr(0, split), value.substr(split + 1));
    }
    args = std::move(rest);
    return true;
}

std::optional<int> findProgram(PluginInstance& plugin, const std::string& text) {
    if (const std::optional<long> number = parseWholeNumber(text))
        return *number >= 0 && *number < plugin.numPrograms() ? std::optional<int>(static_cast<int>(*number))
                                                              : std::nullopt;
    return findName(plugin.programNames(), text);
}

std::optional<int> findParameter(PluginInstance& plugin, const std::string& text) {
    if (const std::optional<long> number = parseWholeNumber(text))
        return *number >= 0 && *number < plugin.numParams() ? std::optional<int>(static_cast<int>(*number))
                                                            : std::nullopt;
    std::vector<std::string> names;
    for (int i = 0; i < plugin.numParams(); ++i) names.push_back(plugin.parameterName(i));
    return findName(names, text);
}

bool applyParameterOptions(PluginInstance& plugin, const ParameterOptions& options, std::string* error) {
    if (options.preset) {
        const std::optional<int> program = findProgram(plugin, *options.preset);
        if (!program) {
            if (error) *error = "no program '" + *options.preset + "'";
            return false;
        }
        plugin.setProgram(*program);
    }
    for (const auto& [name, text] : options.settings) {
        const std::optional<int> index = findParameter(plugin, name);
        if (!index) {
            if (error) *error = "no parameter '" + name + "'";
            return false;
        }
        const std::optional<float> value = parseValue(text);
        if (!value) {
            if (error) *error = "bad value '" + text + "' for " + name;
            return false;
        }
        // A menu's item number goes out as its position, as a host sends it.
        plugin.setParameter(*index, isKovalithMenu(plugin, *index) ? normalisedFromStored(*index, *value) : *value);
    }
    return true;
}

}  // namespace host
}  // namespace kovalith
