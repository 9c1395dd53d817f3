// The Windows parity cases (tests/windows/parity-cases.txt: a name, then
// `kovalith render` options) played through the CLAP plug-in, as
// `kovalith render --block 512 --tail 1` plays them through the VST 2.4 one.
#pragma once

#include "tests/ParityCases.h"
#include "tests/clap/ClapHost.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace claptest {

using Stereo = std::vector<std::vector<float>>;  // left, right

using paritytest::ParityCase;
using paritytest::readParityCases;

struct CaseSettings {
    int program = 0;
    std::vector<std::pair<int, float>> stored;  // parameter index, value as the VST 2.4 plug-in stores it
    std::optional<double> tempo;
};

// --preset N, --set NAME=VALUE (NAME as the plug-in lists it, or its index)
// and --tempo BPM. False, with the reason, for anything else.
bool parseCase(const ClapInstance& instance, const ParityCase& c, CaseSettings& settings, std::string* error);

// The settings as a CLAP host makes them: the program through the state,
// then each setting in the given order, as the VST 2.4 plug-in takes them one
// by one: a parameter event, or, for a value no CLAP parameter value stands for
// (a "Filter Type" of 3, outside its items), the state again with the value in
// the program's record, where the VST 2.4 plug-in's setParameter stores it too.
bool applySettings(ClapInstance& instance, const CaseSettings& settings, std::string* error);

// A 32-bit float stereo WAV as `kovalith render` writes it.
bool readFloatWav(const std::string& path, Stereo& audio, int& sampleRate, std::string* error);

}  // namespace claptest
