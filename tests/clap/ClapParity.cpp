#include "tests/clap/ClapParity.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace claptest {

namespace {

constexpr size_t kBankSize = 24576;
constexpr size_t kRecordSize = 768;
constexpr int kNumParams = 67;
constexpr clap_id kFilterTypeId = 18;

std::optional<double> number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool sameName(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<int> findParameter(const ClapInstance& instance, const std::string& name) {
    for (uint32_t i = 0; i < instance.paramCount(); ++i)
        if (const auto info = instance.paramInfo(i); info && sameName(name, info->name))
            return static_cast<int>(info->id);
    const std::optional<double> index = number(name);
    if (index && *index >= 0 && *index < kNumParams && std::floor(*index) == *index) return static_cast<int>(*index);
    return std::nullopt;
}

uint32_t readLe(const std::vector<char>& bytes, size_t at, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return v;
}

}  // namespace

bool parseCase(const ClapInstance& instance, const ParityCase& c, CaseSettings& settings, std::string* error) {
    settings = CaseSettings{};
    for (size_t i = 0; i < c.args.size(); i += 2) {
        if (i + 1 >= c.args.size()) {
            *error = c.args[i] + " needs a value";
            return false;
        }
        const std::string& option = c.args[i];
        const std::string& value = c.args[i + 1];
        if (option == "--preset") {
            const std::optional<double> p = number(value);
            if (!p || *p < 0 || *p > 31 || std::floor(*p) != *p) {
                *error = "program '" + value + "' (a number: CLAP has no program names)";
                return false;
            }
            settings.program = static_cast<int>(*p);
        } else if (option == "--set") {
            const size_t equals = value.find('=');
            const std::optional<int> index =
                equals == std::string::npos ? std::nullopt : findParameter(instance, value.substr(0, equals));
            const std::optional<double> v =
                equals == std::string::npos ? std::nullopt : number(value.substr(equals + 1));
            if (!index || !v) {
                *error = "setting '" + value + "'";
                return false;
            }
            settings.stored.emplace_back(*index, static_cast<float>(*v));
        } else if (option == "--tempo") {
            settings.tempo = number(value);
            if (!settings.tempo || *settings.tempo <= 0) {
                *error = "tempo '" + value + "'";
                return false;
            }
        } else {
            *error = "option " + option;
            return false;
        }
    }
    return true;
}

// The CLAP value that stands for a VST 2.4 value: the same number, but a
// stepped parameter's must name one of its items ("Filter Type" is item / 10
// there).
std::optional<double> clapValue(const clap_param_info_t& info, float stored) {
    if (!(info.flags & CLAP_PARAM_IS_STEPPED)) {
        if (stored < info.min_value || stored > info.max_value) return std::nullopt;
        return stored;
    }
    const double plain = info.id == kFilterTypeId ? static_cast<double>(stored) * 10.0 : stored;
    const double item = std::round(plain);
    if (std::fabs(plain - item) > 1e-4 || item < info.min_value || item > info.max_value) return std::nullopt;
    return item;
}

bool applySettings(ClapInstance& instance, const CaseSettings& settings, std::string* error) {
    std::optional<std::vector<uint8_t>> state = instance.saveState();
    if (!state || state->size() != kBankSize + 8) {
        *error = "no state to start from";
        return false;
    }
    for (int i = 0; i < 4; ++i)
        (*state)[kBankSize + 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(settings.program >> (8 * i));
    if (!instance.loadState(*state)) {
        *error = "the plug-in refused the state";
        return false;
    }
    // One at a time, in order: a refused filter type keeps the coefficients
    // the settings before it left, and each random LFO shape takes the next seed.
    for (const auto& [index, stored] : settings.stored) {
        std::optional<double> value;
        for (uint32_t i = 0; i < instance.paramCount() && !value; ++i)
            if (const auto info = instance.paramInfo(i); info && info->id == static_cast<clap_id>(index))
                value = clapValue(*info, stored);
        if (value) {
            EventList events, out;
            events.addParamValue(static_cast<clap_id>(index), *value);
            instance.flush(events, out);
            continue;
        }
        uint32_t bits;
        std::memcpy(&bits, &stored, sizeof bits);
        const size_t at = static_cast<size_t>(settings.program) * kRecordSize + static_cast<size_t>(index) * 4;
        state = instance.saveState();
        for (int i = 0; i < 4; ++i) (*state)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (8 * i));
        if (!instance.loadState(*state)) {
            *error = "the plug-in refused the state";
            return false;
        }
    }
    return true;
}

bool readFloatWav(const std::string& path, Stereo& audio, int& sampleRate, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        *error = "not a WAV file: " + path;
        return false;
    }
    int channels = 0, bits = 0, format = 0;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = readLe(bytes, at + 4, 4);
        const size_t body = at + 8;
        if (body + size > bytes.size()) break;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            format = static_cast<int>(readLe(bytes, body, 2));
            channels = static_cast<int>(readLe(bytes, body + 2, 2));
            sampleRate = static_cast<int>(readLe(bytes, body + 4, 4));
            bits = static_cast<int>(readLe(bytes, body + 14, 2));
            if (format == 0xFFFE && size >= 26) format = static_cast<int>(readLe(bytes, body + 24, 2));
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (format != 3 || bits != 32 || channels != 2) {
                *error = path + ": not 32-bit float stereo";
                return false;
            }
            const size_t frames = size / 8;
            audio.assign(2, std::vector<float>(frames));
            for (size_t n = 0; n < frames; ++n)
                for (size_t c = 0; c < 2; ++c) std::memcpy(&audio[c][n], bytes.data() + body + 8 * n + 4 * c, 4);
            return true;
        }
        at = body + size + (size & 1);
    }
    *error = path + ": no audio data";
    return false;
}

}  // namespace claptest
