// Writes the bundle's description from the parameter table and the factory
// bank, so that nothing repeats them:
//   kovalith-lv2-ttl BUNDLE_DIR [--ui]
// manifest.ttl (the plug-in, its UI with --ui, the presets), Kovalith.ttl
// (ports, features, the UI) and presets.ttl (the 32 programs).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "effect/KovalithEffect.h"
#include "effect/Parameters.h"
#include "lv2/Lv2Ports.h"
#include "lv2/Lv2Uris.h"

#ifndef KOVALITH_VERSION_MINOR
#define KOVALITH_VERSION_MINOR 0
#endif
#ifndef KOVALITH_VERSION_MICRO
#define KOVALITH_VERSION_MICRO 0
#endif

namespace {

using namespace kovalith;
using namespace kovalith::lv2;

const char* const kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n\n";

// The notify port's messages: the values of every parameter, twice, with room to spare.
constexpr int kNotifyBufferSize = 4096;

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\') out += '\\';
        out += *c;
    }
    return out + "\"";
}

// A float as a Turtle number that reads back as the same float.
std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string uri(const std::string& text) { return "<" + text + ">"; }

std::string presetUri(int program) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02d", program);
    return uri(std::string(kPresetUriPrefix) + suffix);
}

void writeParameterPort(std::ostream& out, int index, float initialPlain) {
    const ParameterDescription& d = describeParameter(index);
    out << "    [\n        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << portOfParameter(index) << " ;\n"
        << "        lv2:symbol " << quoted(d.symbol) << " ;\n"
        << "        lv2:name " << quoted(d.name) << " ;\n"
        << "        lv2:default " << number(initialPlain) << " ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum " << number(plainMaximum(index));
    if (d.items > 0) {
        out << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration";
        for (int item = 0; item < d.items; ++item) {
            const char* label = d.labels ? d.labels[item] : (item == 0 ? "off" : "on");
            out << " ;\n        lv2:scalePoint [ rdfs:label " << quoted(label) << " ; rdf:value " << item << " ]";
        }
    }
    out << "\n    ]";
}

// The plug-in's ports start at the values of the program a new effect applies
// (program 0), so that hosts, which set every port to its default, leave it as
// it is.
std::string pluginDescription(const KovalithEffect& fresh, bool withUi) {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kPluginUri) << "\n"
        << "    a lv2:Plugin , lv2:SpectralPlugin ;\n"
        << "    doap:name \"Kovalith\" ;\n"
        << "    lv2:minorVersion " << KOVALITH_VERSION_MINOR << " ;\n"
        << "    lv2:microVersion " << KOVALITH_VERSION_MICRO << " ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
        << "    lv2:extensionData state:interface ;\n";
    if (withUi) out << "    ui:ui " << uri(kUiUri) << " ;\n";
    out << "    lv2:port [\n"
        << "        a lv2:InputPort , lv2:AudioPort ; lv2:index " << kInputLeft
        << " ; lv2:symbol \"in_l\" ; lv2:name \"In L\"\n    ] , [\n"
        << "        a lv2:InputPort , lv2:AudioPort ; lv2:index " << kInputRight
        << " ; lv2:symbol \"in_r\" ; lv2:name \"In R\"\n    ] , [\n"
        << "        a lv2:OutputPort , lv2:AudioPort ; lv2:index " << kOutputLeft
        << " ; lv2:symbol \"out_l\" ; lv2:name \"Out L\"\n    ] , [\n"
        << "        a lv2:OutputPort , lv2:AudioPort ; lv2:index " << kOutputRight
        << " ; lv2:symbol \"out_r\" ; lv2:name \"Out R\"\n    ] , [\n"
        << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent , time:Position ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:index " << kControlPort << " ; lv2:symbol \"control\" ; lv2:name \"Control\"\n    ] , [\n"
        << "        a lv2:OutputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        rsz:minimumSize " << kNotifyBufferSize << " ;\n"
        << "        lv2:index " << kNotifyPort << " ; lv2:symbol \"notify\" ; lv2:name \"Notify\"\n    ]";
    for (int index = 0; index < kNumParams; ++index) {
        if (portOfParameter(index) == kNoPort) continue;
        out << " ,\n";
        writeParameterPort(out, index, plainFromStored(index, fresh.getParameter(index)));
    }
    out << " .\n\n";
    // The state's properties (presets hold the second).
    out << uri(kStateKey) << "\n    a rdf:Property ;\n    rdfs:label \"state\" ;\n"
        << "    rdfs:comment \"The bank of 32 programs followed by the current program\" ;\n"
        << "    rdfs:range atom:Chunk .\n\n"
        << uri(kPortValuesKey) << "\n    a rdf:Property ;\n    rdfs:label \"port values\" ;\n"
        << "    rdfs:comment \"The parameter ports' values when the state was saved\" ;\n"
        << "    rdfs:range atom:Chunk .\n\n"
        << uri(kProgramKey) << "\n    a rdf:Property ;\n    rdfs:label \"program\" ;\n"
        << "    rdfs:comment \"The program to select, 0 to 31\" ;\n"
        << "    rdfs:range atom:Int .\n";
    if (withUi) {
        out << "\n" << uri(kUiUri) << "\n"
            << "    a ui:X11UI ;\n"
            << "    lv2:requiredFeature ui:idleInterface , ui:parent , urid:map ;\n"
            << "    lv2:optionalFeature ui:resize , ui:touch , ui:noUserResize , opts:options ;\n"
            << "    lv2:extensionData ui:idleInterface , opts:interface ;\n"
            << "    opts:supportedOption ui:scaleFactor ;\n"
            << "    ui:portNotification [\n"
            << "        ui:plugin " << uri(kPluginUri) << " ;\n"
            << "        lv2:symbol \"notify\" ;\n"
            << "        ui:protocol atom:eventTransfer\n"
            << "    ] .\n";
    }
    return out.str();
}

// Each program as a preset: its values for the ports (what hosts show), and
// the program number as state, which selects it as the VST 2.4 plug-in's
// setProgram does.
std::string presets() {
    std::ostringstream out;
    out << kPrefixes;
    std::unique_ptr<KovalithEffect> effect(new KovalithEffect);
    for (int program = 0; program < kNumPrograms; ++program) {
        effect->setProgram(program);
        char name[kProgramNameSize] = {};
        effect->getProgramNameIndexed(program, name);
        out << presetUri(program) << "\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
            << "    rdfs:label " << quoted(name) << " ;\n"
            << "    state:state [ " << uri(kProgramKey) << " \"" << program << "\"^^xsd:int ] ;\n"
            << "    lv2:port";
        const char* separator = " ";
        for (int index = 0; index < kNumParams; ++index) {
            if (portOfParameter(index) == kNoPort) continue;
            // Typed as float: some hosts take no other type of port value.
            out << separator << "[ lv2:symbol " << quoted(describeParameter(index).symbol) << " ; pset:value \""
                << number(plainFromStored(index, effect->getParameter(index))) << "\"^^xsd:float ]";
            separator = " ,\n        ";
        }
        out << " .\n\n";
    }
    return out.str();
}

std::string manifest(bool withUi) {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kPluginUri) << "\n    a lv2:Plugin ;\n    lv2:binary <Kovalith.so> ;\n"
        << "    rdfs:seeAlso <Kovalith.ttl> .\n\n";
    if (withUi)
        out << uri(kUiUri) << "\n    a ui:X11UI ;\n    ui:binary <KovalithUI.so> ;\n"
            << "    rdfs:seeAlso <Kovalith.ttl> .\n\n";
    for (int program = 0; program < kNumPrograms; ++program)
        out << presetUri(program) << "\n    a pset:Preset ;\n    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
            << "    rdfs:seeAlso <presets.ttl> .\n\n";
    return out.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) std::cerr << "kovalith-lv2-ttl: cannot write " << path << "\n";
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--ui") != 0)) {
        std::cerr << "usage: kovalith-lv2-ttl BUNDLE_DIR [--ui]\n";
        return 2;
    }
    const std::string dir = argv[1];
    const bool withUi = argc == 3;
    std::unique_ptr<KovalithEffect> fresh(new KovalithEffect);
    const bool written = writeFile(dir + "/manifest.ttl", manifest(withUi)) &&
                         writeFile(dir + "/Kovalith.ttl", pluginDescription(*fresh, withUi)) &&
                         writeFile(dir + "/presets.ttl", presets());
    return written ? 0 : 1;
}
