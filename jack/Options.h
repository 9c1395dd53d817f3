// The command line of kovalith-jack.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kovalith {
namespace jack {

struct Options {
    std::string clientName = "Kovalith";
    bool connectSystem = false;   // --connect: to the first two physical capture and playback ports
    std::optional<std::string> program;  // --program N or --preset NAME: a number or a program name
    std::string stateFile;        // --state FILE: loaded at start
    bool save = false;            // --save: the state goes back to the state file at exit
    std::vector<std::pair<std::string, std::string>> settings;  // --set NAME=VALUE, in order
    bool gui = true;
    bool help = false;
    bool version = false;
};

// Parses argv; nothing, with the reason in `error`, for a bad command line.
std::optional<Options> parseOptions(int argc, const char* const* argv, std::string* error);

// The text of --help.
const char* usageText();

}  // namespace jack
}  // namespace kovalith
