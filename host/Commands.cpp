#include "host/Commands.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace kovalith {
namespace host {

namespace {

// A function-local registry, so registrars in other files may run in any order.
std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}

}  // namespace

int CommandContext::usageError(const std::string& message) const {
    err << "kovalith: " << message << "\nusage: kovalith [options] " << command.usage << "\n"
        << "(kovalith help " << command.name << " shows the options and examples)\n";
    return kExitUsage;
}

int CommandContext::failure(const std::string& message) const {
    err << "kovalith: " << message << "\n";
    return kExitFailure;
}

void CommandContext::warn(const std::string& message) const {
    err << "kovalith: " << command.name << ": " << message << "\n";
}

void printCommandHelp(const Command& command, std::ostream& out) {
    out << "usage: kovalith [options] " << command.usage << "\n\n" << command.help;
}

const std::vector<Command>& commands() { return registry(); }

const Command* findCommand(const std::string& name) {
    for (const Command& command : registry())
        if (name == command.name) return &command;
    return nullptr;
}

CommandRegistrar::CommandRegistrar(const Command& command) {
    std::vector<Command>& all = registry();
    const auto before = [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; };
    all.insert(std::upper_bound(all.begin(), all.end(), command, before), command);
}

}  // namespace host
}  // namespace kovalith
