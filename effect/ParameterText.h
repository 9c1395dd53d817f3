// The texts of parameter values: what the editor's read-outs show and what
// every host displays, and back from a typed text to a value. One place, so
// the editor, the format shells and the command line never disagree.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kovalith {

// Read-out writers, each of at most kValueTextSize bytes with the terminator.
constexpr std::size_t kValueTextSize = 64;
void formatPlain(float value, char* text);        // "%2.2f"
void formatInteger(float value, char* text);      // "%d" of the value truncated toward zero
void formatBlockMs(float value, char* text);      // "%0.1f ms" of seconds
void formatHertz(float value, char* text);        // "%0.2f Hz"
void formatSyncUnits(float value, char* text);    // whole sync units, "--" when not above 0
void formatTime(float value, char* text);         // "%0.2f ms" below a second, else "%0.3f s"
void formatCutoff(float cutoff, char* text);      // "%0.f Hz" of 22000 v within 80 .. 22000 Hz

// What a read-out depends on beyond the value itself.
struct DisplayContext {
    float sampleRate = 44100.0f;
    float samplesPerBeat = 0.0f;  // the engine's beat length; 0 before the first block
    float delaySync = 0.0f;       // stored values of "Delay Sync", "LFO 1 Sync", "LFO 2 Sync"
    float lfo1Sync = 0.0f;
    float lfo2Sync = 0.0f;
};

// The display text of parameter index (0 to 66) at the stored value `stored`,
// as the editor shows it ("161.6 ms", "4337 Hz", "tri", "4/1"); `size` bytes at most.
void formatParameter(int index, float stored, const DisplayContext& context, char* text, std::size_t size);

// The stored value for a typed text in the parameter's display units ("250 ms",
// "0.25 s", "4k", "4.3 kHz", "tri", "1/8", or a bare number in the read-out's
// units), clamped to the parameter's range; nothing for text that does not parse.
// `outOfRange`, when given, tells whether the text lay beyond the range.
std::optional<float> parseParameter(int index, const char* text, const DisplayContext& context,
                                    bool* outOfRange = nullptr);

// Whether two texts are the same but for the case of ASCII letters (names typed
// by a user against the effect's own).
bool equalIgnoringCase(const std::string& a, const char* b);

}  // namespace kovalith
