// libFuzzer target: a host restores a chunk (effSetChunk), switches program
// (effSetProgram) and processes a block. Input: flags, program, block frames,
// then the chunk (see FuzzHost.h); with kChunkExactSize it is zero-padded or
// cut to the size the effect takes, otherwise handed over as it is.
#include <algorithm>

#include "tests/fuzz/FuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace kovalith;
    if (size < fuzz::kChunkHeaderBytes) return 0;
    const uint8_t flags = data[0];
    const bool isPreset = flags & fuzz::kChunkIsPreset;
    std::vector<uint8_t> chunk(data + fuzz::kChunkHeaderBytes, data + size);
    if (flags & fuzz::kChunkExactSize) chunk.resize(isPreset ? sizeof(ProgramRecord) : sizeof(ProgramBank), 0);

    fuzz::FuzzEffect effect;
    effect.dispatch(vst2::effSetChunk, isPreset ? 1 : 0, static_cast<intptr_t>(chunk.size()), chunk.data());
    chunk.assign(chunk.size(), 0xA5);  // the effect must have copied what it keeps
    effect.dispatch(vst2::effSetProgram, 0, data[1]);
    effect.processBlock(data[2]);
    // The host saves again: the chunk it gets must be readable whole.
    void* saved = nullptr;
    const intptr_t savedSize = effect.dispatch(vst2::effGetChunk, isPreset ? 1 : 0, 0, &saved);
    const auto* bytes = static_cast<const uint8_t*>(saved);
    volatile uint8_t sum = 0;
    for (intptr_t i = 0; i < savedSize; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return 0;
}
