#include "host/ParameterOptions.h"
#include "host/KovalithMenus.h"

#include "effect/ParameterText.h"
#include "effect/Parameters.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
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

bool sameName(const std::string& name, const std::string& text, bool exact) {
    return exact ? name == text : !name.empty() && equalIgnoringCase(name, text);
}

void setError(std::string* error, const std::string& message) {
    if (error) *error = message;
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
                setError(error, arg + " needs a value");
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
            setError(error, "--set needs NAME=VALUE, not '" + value + "'");
            return false;
        }
        options.settings.emplace_back(value.substr(0, split), value.substr(split + 1));
    }
    args = std::move(rest);
    return true;
}

std::vector<std::string> programNamesWithoutSwitching(PluginInstance& plugin) {
    char name[256] = {};
    if (plugin.numPrograms() <= 0 || plugin.dispatch(vst2::effGetProgramNameIndexed, 0, -1, name) != 0)
        return plugin.programNames();
    if (plugin.hasChunks()) {
        // A second instance holding the same bank answers for the first.
        std::unique_ptr<PluginInstance> namer = PluginInstance::load(plugin.path());
        if (namer && namer->setChunk(plugin.getChunk(false), false)) return namer->programNames();
    }
    // Programs that are parameter values only: programNames() puts them back.
    return plugin.programNames();
}

std::optional<int> findProgram(PluginInstance& plugin, const std::string& text) {
    if (const std::optional<long> number = parseWholeNumber(text))
        return *number >= 0 && *number < plugin.numPrograms() ? std::optional<int>(static_cast<int>(*number))
                                                              : std::nullopt;
    const std::vector<std::string> names = programNamesWithoutSwitching(plugin);
    for (const bool exact : {true, false})
        for (std::size_t i = 0; i < names.size(); ++i)
            if (sameName(names[i], text, exact)) return static_cast<int>(i);
    return std::nullopt;
}

std::optional<int> findParameter(PluginInstance& plugin, const std::string& text, std::string* error) {
    if (const std::optional<long> number = parseWholeNumber(text)) {
        if (*number >= 0 && *number < plugin.numParams()) return static_cast<int>(*number);
        setError(error, "no parameter " + text + " (they are numbered 0 to " + std::to_string(plugin.numParams() - 1) +
                            ")");
        return std::nullopt;
    }
    std::vector<int> found;
    for (const bool exact : {true, false}) {
        for (int i = 0; i < plugin.numParams(); ++i)
            if (sameName(plugin.parameterName(i), text, exact)) found.push_back(i);
        if (!found.empty()) break;
    }
    if (found.size() == 1) return found.front();
    if (found.empty()) {
        setError(error, "no parameter '" + text + "' (kovalith info lists them)");
        return std::nullopt;
    }
    std::string indices;
    for (std::size_t k = 0; k < found.size(); ++k)
        indices += (k == 0 ? "" : k + 1 == found.size() ? " and " : ", ") + std::to_string(found[k]);
    setError(error, "'" + text + "' names parameters " + indices + "; set one by its number, e.g. --set " +
                        std::to_string(found.front()) + "=VALUE");
    return std::nullopt;
}

ParameterRange parameterRange(PluginInstance& plugin, int index) {
    ParameterRange range;
    // The one plug-in whose table we know: its menus hold item numbers.
    if (plugin.uniqueID() != vst2::fourCC('Q', 'Z', 'V', 'M') || plugin.numParams() != kNumParams ||
        !isParameterIndex(index))
        return range;
    const auto menu = [&](const char* const* labels, int count, float step) {
        range.items = count;
        range.step = step;
        range.highest = step * static_cast<float>(count);
        range.labels.assign(labels, labels + count);
    };
    // "Filter Type" stores its type divided by ten.
    if (index == kFilterType) menu(kFilterTypeNames, kNumFilterTypes, 0.1f);
    if (kParameterTable[static_cast<std::size_t>(index)].kind != ParamKind::Menu) return range;
    if (index == kDelayStereoMult) menu(kStereoMultLabels, kNumStereoMultipliers, 1.0f);
    if (index == kDelaySync || index == kLfo1Sync || index == kLfo2Sync) menu(kSyncLabels, kNumSyncDivisions, 1.0f);
    if (index == kLfo1Shape || index == kLfo2Shape) menu(kLfoShapeNames, kNumLfoShapes, 1.0f);
    if (index == kCompressorType) menu(kCompressorLevelNames, kNumCompressorLevels, 1.0f);
    return range;
}

namespace {

std::string stepText(int item, float step) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(static_cast<float>(item) * step));
    return text;
}

// Why `value` is no value of parameter `index` named `name`; empty when it is one.
std::string outOfRange(PluginInstance& plugin, int index, const std::string& name, float value) {
    const ParameterRange range = parameterRange(plugin, index);
    if (range.items == 0) {
        if (value >= 0.0f && value <= range.highest) return {};
        return "'" + name + "' takes a value from 0 to 1";
    }
    // A menu keeps the whole steps of its value, as hosts may store 2.5 for item 2.
    if (value >= 0.0f && value < range.highest) return {};
    std::string items;
    for (std::size_t i = 0; i < range.labels.size(); ++i)
        items += (i == 0 ? ": " : ", ") + stepText(static_cast<int>(i), range.step) + " = " + range.labels[i];
    return "'" + name + "' is a menu of items 0 to " + stepText(range.items - 1, range.step) +
           (range.step != 1.0f ? " in steps of " + stepText(1, range.step) : std::string()) + items;
}

// A value in the display units of Kovalith's table ("250 ms", "4.4 kHz", "tri"):
// its stored value, in the units a bare number of --set gives. Nothing for a
// text that does not parse or another plug-in; `why` says when it is out of range.
std::optional<float> displayValue(PluginInstance& plugin, int index, const std::string& name,
                                  const std::string& text, std::string* why) {
    if (plugin.uniqueID() != vst2::fourCC('Q', 'Z', 'V', 'M') || plugin.numParams() != kNumParams ||
        !isParameterIndex(index))
        return std::nullopt;
    DisplayContext context;
    context.sampleRate = static_cast<float>(plugin.sampleRate());
    context.delaySync = plugin.getParameter(kDelaySync);
    context.lfo1Sync = plugin.getParameter(kLfo1Sync);
    context.lfo2Sync = plugin.getParameter(kLfo2Sync);
    bool outside = false;
    const std::optional<float> value = parseParameter(index, text.c_str(), context, &outside);
    if (value && outside) {
        char low[kValueTextSize], high[kValueTextSize];
        formatParameter(index, 0.0f, context, low, sizeof low);
        formatParameter(index, 1.0f, context, high, sizeof high);
        *why = "'" + name + "' takes " + low + " to " + high + " (stored: 0 to 1)";
    }
    return value;
}

}  // namespace

bool applyParameterOptions(PluginInstance& plugin, const ParameterOptions& options, std::string* error) {
    if (options.preset) {
        const std::optional<int> program = findProgram(plugin, *options.preset);
        if (!program) {
            setError(error, "no program '" + *options.preset + "' (0 to " + std::to_string(plugin.numPrograms() - 1) +
                                ", or a name kovalith info lists)");
            return false;
        }
        plugin.setProgram(*program);
    }
    for (const auto& [name, text] : options.settings) {
        const std::optional<int> index = findParameter(plugin, name, error);
        if (!index) return false;
        // A bare number is the stored value; a unit or a menu item's name goes through the table.
        std::string why;
        std::optional<float> value = parseValue(text);
        if (!value) value = displayValue(plugin, *index, name, text, &why);
        if (!value) {
            // The reason a value out of range gets: the range, or the menu's items.
            setError(error, "bad value '" + text + "' for " + name + ": " + outOfRange(plugin, *index, name, -1.0f) +
                                " (or a value in its units, as kovalith params shows)");
            return false;
        }
        if (why.empty()) why = outOfRange(plugin, *index, name, *value);
        if (!why.empty()) {
            setError(error, "--set " + name + "=" + text + " is out of range: " + why);
            return false;
        }
        // A menu's item number goes out as its position, as a host sends it.
        plugin.setParameter(*index, isKovalithMenu(plugin, *index) ? normalisedFromStored(*index, *value) : *value);
    }
    return true;
}

}  // namespace host
}  // namespace kovalith
