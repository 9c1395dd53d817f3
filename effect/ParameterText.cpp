#include "effect/ParameterText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "effect/Parameters.h"

namespace kovalith {
namespace {

// Truncation toward zero that stays defined for values beyond the int range.
int truncated(float value) {
    if (!(std::fabs(value) < 2147483520.0f)) return std::isnan(value) ? 0 : (value < 0 ? INT32_MIN : INT32_MAX);
    return static_cast<int>(value);
}

// The factor of a sync menu's stored value, 0 when it is "off" or outside the table.
float syncFactor(float stored) { return kSyncFactors[safeMenuIndex(stored, kNumSyncDivisions)]; }

// The beat in samples as the engine counts sync units.
float beatSamples(const DisplayContext& context) {
    return context.samplesPerBeat > 0.0f ? context.samplesPerBeat : 0.5f * context.sampleRate;
}

// A synced time in seconds as whole sync units (what the synced read-outs count).
float syncUnits(float seconds, float factor, const DisplayContext& context) {
    const float beat = beatSamples(context);
    return quantiseToSync(seconds, factor, context.sampleRate, beat) /
           quantiseToSync(1e-12f, factor, context.sampleRate, beat);
}

float lfoSyncOf(int index, const DisplayContext& context) {
    return index == kLfo1Freq ? context.lfo1Sync : context.lfo2Sync;
}

void copyText(char* text, std::size_t size, const char* source) {
    if (size == 0) return;
    std::snprintf(text, size, "%s", source);
}

// ---- parsing --------------------------------------------------------------------

std::string trimmed(const char* text) {
    std::string s(text);
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// A number with an optional unit after it: the number, and the unit in lower case.
bool splitNumber(const std::string& s, double* number, std::string* unit) {
    if (s.empty() || s.size() > 64) return false;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || !std::isfinite(value)) return false;
    std::string rest(end);
    rest.erase(std::remove_if(rest.begin(), rest.end(), [](unsigned char c) { return std::isspace(c); }), rest.end());
    for (char& c : rest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    *number = value;
    *unit = rest;
    return true;
}

// Seconds from a number with "ms" or "s"; a bare number counts in `bareScale` seconds.
bool seconds(double number, const std::string& unit, double bareScale, double* result) {
    if (unit.empty()) *result = number * bareScale;
    else if (unit == "ms") *result = number * 0.001;
    else if (unit == "s" || unit == "sec") *result = number;
    else return false;
    return true;
}

// Hertz from a number with "hz", "k" or "khz"; a bare number is in hertz.
bool hertz(double number, const std::string& unit, double* result) {
    if (unit.empty() || unit == "hz") *result = number;
    else if (unit == "k" || unit == "khz") *result = number * 1000.0;
    else return false;
    return true;
}

// Texts give stored values as doubles, possibly outside 0..1: parseParameter
// clamps them and can say that it did.
std::optional<double> finiteStored(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// A root that keeps the sign of its argument, so a value below the range stays below it.
double signedRoot(double value) { return std::copysign(std::sqrt(std::fabs(value)), value); }

std::optional<float> parseItem(int index, const std::string& s) {
    const ParameterDescription& description = describeParameter(index);
    for (int item = 0; item < description.items; ++item) {
        const char* label = description.labels ? description.labels[item] : (item == 0 ? "off" : "on");
        if (equalIgnoringCase(s, label)) return storedFromPlain(index, static_cast<float>(item));
    }
    double number = 0.0;
    std::string unit;
    if (!splitNumber(s, &number, &unit) || !unit.empty()) return std::nullopt;
    return storedFromPlain(index, static_cast<float>(number));
}

std::optional<double> parseContinuous(int index, const std::string& s, const DisplayContext& context) {
    double number = 0.0, value = 0.0;
    std::string unit;
    if (!splitNumber(s, &number, &unit)) return std::nullopt;
    const double sr = context.sampleRate;
    switch (describeParameter(index).readout) {
        case Readout::BlockMs: {
            // (16 + v^2 (sr - 17)) / sr seconds
            if (!seconds(number, unit, 0.001, &value)) return std::nullopt;
            return finiteStored(signedRoot((value * sr - 16.0) / (sr - 17.0)));
        }
        case Readout::Integer:  // 69 v + 1 stages, truncated: aim between two counts
            if (!unit.empty()) return std::nullopt;
            return finiteStored((std::round(number) - 0.5) / 69.0);
        case Readout::Time: {
            if (!seconds(number, unit, 1.0, &value)) return std::nullopt;
            const double cube = index == kEnvRelease ? value / 2.0 : value;
            return finiteStored(std::cbrt(cube));
        }
        case Readout::LfoFreq: {
            const float factor = syncFactor(lfoSyncOf(index, context));
            if (factor > 0.0f && unit.empty()) {
                // A period of whole sync units (rounded up by the engine): aim half a unit below.
                const double units = std::round(number);
                if (units < 1.0) return 0.0;
                const double period = (units - 0.5) / static_cast<double>(factor) * beatSamples(context) / sr;
                return finiteStored(std::sqrt(1.0 / period / 20.0));
            }
            if (!hertz(number, unit, &value)) return std::nullopt;
            return finiteStored(signedRoot(value / 20.0));
        }
        case Readout::Cutoff:
            if (!hertz(number, unit, &value)) return std::nullopt;
            return finiteStored(value / 22000.0);
        case Readout::Delay:
            if (syncFactor(context.delaySync) > 0.0f && unit.empty()) {
                // Whole sync units, which the engine rounds up to: aim half a unit below.
                const double units = std::round(number);
                if (units < 1.0) return 0.0;
                const double beats = (units - 0.5) / static_cast<double>(syncFactor(context.delaySync));
                return finiteStored(beats * beatSamples(context) / sr);
            }
            if (!seconds(number, unit, 1.0, &value)) return std::nullopt;
            return finiteStored(value);
        default:
            break;
    }
    const EngRule rule = kParameterTable[static_cast<std::size_t>(index)].rule;
    // Smoothing reads in seconds and may be typed as a time.
    if (rule == EngRule::Smoothing) {
        if (!seconds(number, unit, 1.0, &value)) return std::nullopt;
        return finiteStored(value / 0.1);
    }
    if (!unit.empty()) return std::nullopt;
    switch (rule) {
        case EngRule::BufferRate: return finiteStored(number < 1.0 ? number - 0.5 : number / 2.0);
        case EngRule::Bipolar: return finiteStored((number + 1.0) / 2.0);
        default: return finiteStored(number);
    }
}

}  // namespace

bool equalIgnoringCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void formatPlain(float value, char* text) {
    std::snprintf(text, kValueTextSize, "%2.2f", static_cast<double>(value));
}

void formatInteger(float value, char* text) { std::snprintf(text, kValueTextSize, "%d", truncated(value)); }

void formatBlockMs(float value, char* text) {
    std::snprintf(text, kValueTextSize, "%0.1f ms", static_cast<double>(value * 1000.0f));
}

void formatHertz(float value, char* text) {
    std::snprintf(text, kValueTextSize, "%0.2f Hz", static_cast<double>(value));
}

void formatSyncUnits(float value, char* text) {
    if (value > 0.0f)
        std::snprintf(text, kValueTextSize, "%d", truncated(value));
    else
        std::snprintf(text, kValueTextSize, "--");
}

void formatTime(float value, char* text) {
    if (value < 1.0f)
        std::snprintf(text, kValueTextSize, "%0.2f ms", static_cast<double>(value * 1000.0f));
    else
        std::snprintf(text, kValueTextSize, "%0.3f s", static_cast<double>(value));
}

void formatCutoff(float cutoff, char* text) {
    // NaN compares false both ways and would pass a plain min/max: show the bottom.
    const float hz = cutoff * 22000.0f;
    const float shown = hz >= 80.0f ? std::min(hz, 22000.0f) : 80.0f;
    std::snprintf(text, kValueTextSize, "%0.f Hz", static_cast<double>(shown));
}

void formatParameter(int index, float stored, const DisplayContext& context, char* text, std::size_t size) {
    if (!text || size == 0) return;
    text[0] = '\0';
    if (!isParameterIndex(index)) return;
    const ParameterDescription& description = describeParameter(index);
    const float eng = engineeringValue(index, std::isfinite(stored) ? stored : 0.0f, context.sampleRate);
    char buffer[kValueTextSize];
    switch (description.readout) {
        case Readout::Plain: formatPlain(eng, buffer); break;
        case Readout::Integer: formatInteger(eng, buffer); break;
        case Readout::BlockMs: formatBlockMs(eng, buffer); break;
        case Readout::Time: formatTime(eng, buffer); break;
        case Readout::Cutoff: formatCutoff(eng, buffer); break;
        case Readout::Delay: {
            const float factor = syncFactor(context.delaySync);
            if (factor > 0.0f)
                formatPlain(syncUnits(eng, factor, context), buffer);
            else
                formatPlain(eng, buffer);
            break;
        }
        case Readout::LfoFreq: {
            const float factor = syncFactor(lfoSyncOf(index, context));
            if (factor > 0.0f)
                formatSyncUnits(eng > 0.0f ? syncUnits(1.0f / eng, factor, context) : 0.0f, buffer);
            else
                formatHertz(eng, buffer);
            break;
        }
        case Readout::FilterType:
        case Readout::Menu:
            copyText(buffer, sizeof buffer, description.labels[static_cast<int>(plainFromStored(index, stored))]);
            break;
        case Readout::Switch: copyText(buffer, sizeof buffer, plainFromStored(index, stored) >= 1.0f ? "on" : "off"); break;
    }
    copyText(text, size, buffer);
}

std::optional<float> parseParameter(int index, const char* text, const DisplayContext& context, bool* outOfRange) {
    if (outOfRange) *outOfRange = false;
    if (!text || !isParameterIndex(index)) return std::nullopt;
    if (strnlen(text, 65) > 64) return std::nullopt;
    const std::string s = trimmed(text);
    if (s.empty()) return std::nullopt;
    if (describeParameter(index).items > 0) return parseItem(index, s);
    // A synced LFO at 0 Hz shows no count.
    if (s == "--" && describeParameter(index).readout == Readout::LfoFreq) return 0.0f;
    const std::optional<double> value = parseContinuous(index, s, context);
    if (!value) return std::nullopt;
    // A shown end typed back ("1000.0 ms" for 999.98 ms) lies within the slack.
    constexpr double kSlack = 1e-4;
    if (outOfRange) *outOfRange = *value < -kSlack || *value > 1.0 + kSlack;
    return static_cast<float>(std::min(std::max(*value, 0.0), 1.0));
}

}  // namespace kovalith
