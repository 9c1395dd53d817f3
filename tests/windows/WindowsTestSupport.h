// Shared pieces of the Windows test program: where things are, the x87
// control word, and 32-bit float WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovalith::wintest {

// The DLL under test, the parity cases and the directory the parity files go to.
inline const char* pluginPath() { return KOVALITH_PLUGIN_PATH; }
inline std::string parityFile(const std::string& name) { return std::string(KOVALITH_PARITY_DIR) + "/" + name; }

// The x87 control word of the calling thread. Its precision field (bits 8-9)
// is 11 for 64-bit significands (Linux's start value), 10 for 53 bits
// (Windows' start value).
inline uint16_t x87ControlWord() {
    uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}
inline void setX87ControlWord(uint16_t word) { __asm__ __volatile__("fldcw %0" : : "m"(word) : "memory"); }
constexpr uint16_t kX87Windows53Bit = 0x27F;
constexpr uint16_t kX87Extended64Bit = 0x37F;

// Interleaved stereo, 32-bit float.
struct StereoAudio {
    int sampleRate = 0;
    std::vector<float> samples;  // left, right, left, right, ...
    size_t frames() const { return samples.size() / 2; }
};

bool writeWav(const std::string& path, const StereoAudio& audio);
// Reads a 32-bit float stereo WAV file (plain or extensible format); false otherwise.
bool readWav(const std::string& path, StereoAudio& audio, std::string* error);

// Writes the parity input (parityFile("input.wav")); false when it cannot.
bool writeParityInput();

}  // namespace kovalith::wintest
