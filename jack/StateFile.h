// The state file of kovalith-jack: either a VST 2.4 bank file (.fxb, the bank
// chunk form that `kovalith export-fxb` writes) or the effect's saved state.
// The file is untrusted: whatever it holds is checked before the effect sees it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovalith {

class KovalithEffect;

namespace jack {

enum class StateFileKind { Bank, State };

// The kind a new file gets from its name: Bank for ".fxb", else State.
StateFileKind kindFromName(const std::string& path);

// Applies the file's bank or state to `effect`; false, with the reason in
// `error` and the effect unchanged, for a file that cannot be read or is not a
// Kovalith bank or state. `kind` tells what the file held.
bool loadStateFile(KovalithEffect& effect, const std::string& path, StateFileKind& kind, std::string* error);

// Writes the effect's bank and current program in the given form. The bytes go
// to a temporary file beside `path` first, which then replaces it, so a
// failed write never leaves a truncated state behind.
bool saveStateFile(KovalithEffect& effect, const std::string& path, StateFileKind kind, std::string* error);

// The bank file image of a bank chunk and its current program.
std::vector<uint8_t> bankFileImage(const void* chunk, std::size_t size, int currentProgram);

}  // namespace jack
}  // namespace kovalith
