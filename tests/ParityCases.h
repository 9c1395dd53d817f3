// The parity cases both Windows parity suites read (tests/windows/parity-cases.txt):
// one case a line, its name, then `kovalith render` options, separated by tabs;
// '#' starts a comment line.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace paritytest {

struct ParityCase {
    std::string name;
    std::vector<std::string> args;
};

// The cases of a parity-cases.txt; empty when it cannot be read.
inline std::vector<ParityCase> readParityCases(const std::string& path) {
    std::vector<ParityCase> cases;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        ParityCase c;
        std::getline(fields, c.name, '\t');
        for (std::string field; std::getline(fields, field, '\t');) c.args.push_back(field);
        cases.push_back(c);
    }
    return cases;
}

}  // namespace paritytest
