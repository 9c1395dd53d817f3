// Shared pieces of the Windows test program: where things are, the x87
// control word, and 32-bit float WAV files.
#pragma once

#include <algorithm>
#include <cstddef>
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

// Plays `input` and then `tailFrames` of silence through `process(ins, outs, frames, done)`
// in blocks of at most `block` frames, as `kovalith render` does: the input's last block
// is short and the tail starts with a fresh block. `done` is the frames played before the
// block. False as soon as `process` answers false.
template <typename Process>
bool renderInBlocks(const StereoAudio& input, size_t tailFrames, int block, StereoAudio& out, Process process) {
    const size_t blockFrames = static_cast<size_t>(block);
    std::vector<float> inL(blockFrames), inR(blockFrames), outL(blockFrames), outR(blockFrames);
    float* ins[2] = {inL.data(), inR.data()};
    float* outs[2] = {outL.data(), outR.data()};
    const size_t inputFrames = input.frames();
    const size_t total = inputFrames + tailFrames;
    out.sampleRate = input.sampleRate;
    out.samples.reserve(out.samples.size() + 2 * total);
    for (size_t done = 0; done < total;) {
        const size_t end = std::min(done + blockFrames, done < inputFrames ? inputFrames : total);
        const int frames = static_cast<int>(end - done);
        for (int n = 0; n < frames; ++n) {
            const size_t i = done + static_cast<size_t>(n);
            inL[n] = i < inputFrames ? input.samples[2 * i] : 0.0f;
            inR[n] = i < inputFrames ? input.samples[2 * i + 1] : 0.0f;
        }
        if (!process(ins, outs, frames, done)) return false;
        for (int n = 0; n < frames; ++n) {
            out.samples.push_back(outL[n]);
            out.samples.push_back(outR[n]);
        }
        done = end;
    }
    return true;
}

bool writeWav(const std::string& path, const StereoAudio& audio);
// Reads a 32-bit float stereo WAV file (plain or extensible format); false otherwise.
bool readWav(const std::string& path, StereoAudio& audio, std::string* error);

// Writes the parity input (parityFile("input.wav")); false when it cannot.
bool writeParityInput();

}  // namespace kovalith::wintest
