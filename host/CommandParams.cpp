// params: the parameter reference, from the effect's own parameter table.
#include "host/Commands.h"

#include "effect/ParameterText.h"
#include "effect/Parameters.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

namespace kovalith {
namespace host {

namespace {

// One parameter as the reference shows it.
struct ParamRow {
    std::string index, name, range, defaultValue, unit;
};

bool isReserved(int index) { return !describeParameter(index).exposed; }

// The exposed parameter that shares reserved parameter `index`'s VST 2.4 name, or -1.
int namesake(int index) {
    const std::string name = kParameterTable[static_cast<std::size_t>(index)].name;
    for (int other = 0; other < kNumParams && !name.empty(); ++other)
        if (!isReserved(other) && name == kParameterTable[static_cast<std::size_t>(other)].name) return other;
    return -1;
}

// The VST 2.4 name, with what a reader must know about it.
std::string nameCell(int index) {
    const std::string name = kParameterTable[static_cast<std::size_t>(index)].name;
    if (isReserved(index)) {
        if (name.empty()) return "(reserved)";
        return name + " (reserved twin of " + std::to_string(namesake(index)) + ")";
    }
    if (name.empty()) return std::string(describeParameter(index).name) + " (no VST 2.4 name)";
    return name;
}

std::string displayText(int index, float stored, const DisplayContext& context) {
    char text[kValueTextSize];
    formatParameter(index, stored, context, text, sizeof text);
    return text;
}

std::string rangeCell(int index, const DisplayContext& context) {
    if (isReserved(index)) return "-";
    const ParameterDescription& description = describeParameter(index);
    if (description.items > 0) {
        std::string items;
        for (int item = 0; item < description.items; ++item)
            items += (item == 0 ? "" : ", ") + displayText(index, storedFromPlain(index, static_cast<float>(item)), context);
        return items;
    }
    return displayText(index, 0.0f, context) + " to " + displayText(index, 1.0f, context);
}

std::string unitCell(int index) {
    const ParameterDescription& description = describeParameter(index);
    // The delay reads in seconds, or in sync units while "Delay Sync" is on.
    if (description.readout == Readout::Delay) return "s";
    return description.unit;
}

std::vector<ParamRow> parameterRows(const DisplayContext& context) {
    std::vector<ParamRow> rows;
    for (int index = 0; index < kNumParams; ++index) {
        const float def = kParameterTable[static_cast<std::size_t>(index)].defaultValue;
        rows.push_back({std::to_string(index), nameCell(index), rangeCell(index, context),
                        isReserved(index) ? "-" : displayText(index, def, context), unitCell(index)});
    }
    return rows;
}

const char* const kNotes =
    "Menus list their items in order, numbered from 0. Synced \"Delay\" and \"LFO Freq\" values read "
    "in sync units. Reserved parameters do nothing but keep their place in presets; 8 is a second "
    "\"A Res\", so --set needs the number for either (5 is the one that acts). --set takes the stored "
    "value (0 to 1; a menu's item number, \"Filter Type\" its item / 10) or a value in the units above "
    "(\"Delay=250 ms\", \"Cutoff=4.4 kHz\", \"LFO 1 Shape=tri\"). Parameters without a VST 2.4 name are "
    "set by number (--set 23=on).";

// ---- the terminal table ------------------------------------------------------------

// The lines of `text` broken after spaces so that none exceeds `width` (a longer word stands alone).
std::vector<std::string> wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}

// Columns of at most 100 characters in all: # 3, name 28, range 40, default 12, unit 4.
constexpr std::array<std::size_t, 5> kWidths = {3, 28, 40, 12, 4};

void printTerminalRow(std::ostream& out, const ParamRow& row) {
    const std::array<std::vector<std::string>, 5> cells = {
        wrapped(row.index, kWidths[0]), wrapped(row.name, kWidths[1]), wrapped(row.range, kWidths[2]),
        wrapped(row.defaultValue, kWidths[3]), wrapped(row.unit, kWidths[4])};
    std::size_t height = 0;
    for (const auto& cell : cells) height = std::max(height, cell.size());
    for (std::size_t line = 0; line < height; ++line) {
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            std::string part = line < cells[c].size() ? cells[c][line] : "";
            // The index is right-aligned; the other columns are padded after their text.
            if (c == 0) part.insert(0, kWidths[0] > part.size() ? kWidths[0] - part.size() : 0, ' ');
            else if (c + 1 < cells.size()) part.resize(std::max(part.size(), kWidths[c]), ' ');
            text += (c == 0 ? "" : "  ") + part;
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << "\n";
    }
}

void printTerminal(std::ostream& out, const std::vector<ParamRow>& rows) {
    printTerminalRow(out, {"#", "Name (VST 2.4)", "Range or menu items", "Default", "Unit"});
    for (const ParamRow& row : rows) printTerminalRow(out, row);
    out << "\n";
    for (const std::string& line : wrapped(kNotes, 80)) out << line << "\n";
}

// ---- Markdown ------------------------------------------------------------------------

std::string markdownCell(const std::string& text) { return text.empty() ? " " : text; }

void printMarkdown(std::ostream& out, const std::vector<ParamRow>& rows) {
    out << "| # | Name (VST 2.4) | Range or menu items | Default | Unit |\n|--:|---|---|---|---|\n";
    for (const ParamRow& row : rows)
        out << "| " << row.index << " | " << markdownCell(row.name) << " | " << markdownCell(row.range) << " | "
            << markdownCell(row.defaultValue) << " | " << markdownCell(row.unit) << " |\n";
    out << "\n" << kNotes << "\n";
}

int runParams(const CommonOptions& options, const std::vector<std::string>& args) {
    bool markdown = false;
    for (const std::string& arg : args) {
        if (arg != "--markdown") {
            std::cerr << "kovalith: params: unknown argument '" << arg << "'\nusage: kovalith [options] params "
                      << "[--markdown]\n";
            return kExitUsage;
        }
        markdown = true;
    }
    DisplayContext context;
    context.sampleRate = static_cast<float>(options.sampleRate);
    const std::vector<ParamRow> rows = parameterRows(context);
    if (markdown)
        printMarkdown(std::cout, rows);
    else
        printTerminal(std::cout, rows);
    return kExitSuccess;
}

const CommandRegistrar params({"params", "params [--markdown]", "print Kovalith's parameter reference",
                               "Prints every parameter of Kovalith from its own table: number, VST 2.4\n"
                               "name, range or menu items, the \"Default\" program's value as the editor\n"
                               "shows it, and unit. Times and the block size depend on the sample rate\n"
                               "(the common --sample-rate, default 44100). Loads no plug-in.\n"
                               "\n"
                               "Options:\n"
                               "  --markdown         a Markdown table instead of the terminal's\n"
                               "\n"
                               "Examples:\n"
                               "  kovalith params\n"
                               "  kovalith params --markdown > parameters.md\n",
                               nullptr, runParams});

}  // namespace

}  // namespace host
}  // namespace kovalith
