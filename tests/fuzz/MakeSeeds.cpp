// Writes the fuzz targets' seed inputs from the factory bank:
//   kovalith_fuzz_seeds CHUNK_DIR EVENTS_DIR
// The chunk seeds are the bank and each factory program as a one-program
// chunk; the events seeds start from a factory program, learn a controller,
// play it on two channels and process between the events.
#include <cstdio>
#include <string>

#include "tests/fuzz/FuzzHost.h"

namespace {

using namespace kovalith;

bool writeSeed(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<uint8_t> chunkSeed(fuzz::FuzzEffect& effect, bool isPreset, uint8_t program) {
    std::vector<uint8_t> seed = {static_cast<uint8_t>(fuzz::kChunkExactSize | (isPreset ? fuzz::kChunkIsPreset : 0)),
                                 program, 64};
    void* chunk = nullptr;
    const intptr_t size = effect.dispatch(vst2::effGetChunk, isPreset ? 1 : 0, 0, &chunk);
    const auto* bytes = static_cast<const uint8_t*>(chunk);
    seed.insert(seed.end(), bytes, bytes + size);
    return seed;
}

std::vector<uint8_t> eventsSeed(uint8_t program) {
    const uint8_t learnFeedback = kFeedback + 1;  // index 67 + 18: learn "Feedback"
    return {program,
            fuzz::kLearnCommand, learnFeedback, 0, 0, 0, 0,
            fuzz::kMidiEvent, 0xB0, 7, 100, 0, 0,
            fuzz::kProcessNow, 64, 0, 0, 0, 0,
            fuzz::kMidiEvent, 0xB5, 7, 127, 3, 0,
            fuzz::kOtherEvent, 0xB0, 7, 20, 0, vst2::kVstSysExType,
            fuzz::kProcessNow, 200, 0, 0, 0, 0};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kovalith_fuzz_seeds CHUNK_DIR EVENTS_DIR\n");
        return 2;
    }
    const std::string chunkDir = argv[1], eventsDir = argv[2];
    fuzz::FuzzEffect effect;
    bool ok = writeSeed(chunkDir + "/bank", chunkSeed(effect, false, 0));
    for (uint8_t p = 0; p < kNumFactoryPresets; ++p) {
        effect.dispatch(vst2::effSetProgram, 0, p);
        ok = writeSeed(chunkDir + "/program-" + std::to_string(p), chunkSeed(effect, true, p)) && ok;
        ok = writeSeed(eventsDir + "/program-" + std::to_string(p), eventsSeed(p)) && ok;
    }
    if (!ok) std::perror("kovalith_fuzz_seeds");
    return ok ? 0 : 1;
}
