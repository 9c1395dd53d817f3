// The conventional VST preset files: .fxp (one program) and .fxb (a bank).
//
// Both are big-endian records that start with 'CcnK' and the size of the rest.
// A program holds either the plug-in's opaque chunk ('FPCh') or its parameter
// values ('FxCk'); a bank holds either the bank chunk ('FBCh') or one program
// record per program ('FxBk'). Files are untrusted input: every magic and size
// is checked against the bytes at hand before anything is read or allocated.
#pragma once

#include "host/PluginHost.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kovalith {
namespace host {

constexpr int kFxProgramNameSize = 28;  // prgName, zero-terminated

struct FxProgram {
    bool isChunk = false;
    int32_t fxID = 0;
    int32_t fxVersion = 0;
    int32_t numParams = 0;           // of the plug-in that wrote it
    std::string name;                // at most 27 characters are written
    std::vector<float> params;       // parameter form
    std::vector<uint8_t> chunk;      // chunk form
};

struct FxBank {
    bool isChunk = false;
    int32_t version = 2;             // 2 carries currentProgram, 1 does not
    int32_t fxID = 0;
    int32_t fxVersion = 0;
    int32_t numPrograms = 0;
    int32_t currentProgram = 0;
    std::vector<uint8_t> chunk;      // chunk form
    std::vector<FxProgram> programs; // parameter form
};

std::vector<uint8_t> serializeFxp(const FxProgram& program);
std::vector<uint8_t> serializeFxb(const FxBank& bank);

// Parse a whole file image; null with a message in `error` when it is not a
// well-formed program or bank.
std::optional<FxProgram> parseFxp(const std::vector<uint8_t>& bytes, std::string* error);
std::optional<FxBank> parseFxb(const std::vector<uint8_t>& bytes, std::string* error);

// The plug-in's current program or whole bank, in the chunk form when it keeps
// program chunks and in the parameter form otherwise.
std::optional<FxProgram> captureProgram(PluginInstance& plugin, std::string* error);
std::optional<FxBank> captureBank(PluginInstance& plugin, std::string* error);

// Apply a program to the current program, or a bank to the whole plug-in.
// Refuses presets of another plug-in (fxID) or of a shape it cannot take.
bool applyProgram(PluginInstance& plugin, const FxProgram& program, std::string* error);
bool applyBank(PluginInstance& plugin, const FxBank& bank, std::string* error);

// Files. Saving picks the kind by the extension (.fxp or .fxb); loading by
// the record's own magic. Files are written whole or not at all (OutputFile).
bool isPresetFileName(const std::string& path);
// The bytes of the file `path` names: the whole bank for .fxb, the current program for .fxp.
bool presetFileBytes(PluginInstance& plugin, const std::string& path, std::vector<uint8_t>& bytes,
                     std::string* error);
bool savePresetFile(PluginInstance& plugin, const std::string& path, std::string* error);
bool loadPresetFile(PluginInstance& plugin, const std::string& path, std::string* error);

bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string* error);
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// A unique ID as its four characters (non-printing ones as '.').
std::string fourCharCode(int32_t id);

}  // namespace host
}  // namespace kovalith
