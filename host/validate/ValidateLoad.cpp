// The load group: the entry point and the effect record, opening and closing,
// and many create/close cycles that must not let the heap or RSS grow.
#include "host/validate/Validate.h"

#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <cstddef>

#ifdef KOVALITH_VALIDATE_SANITIZED
// Every sanitizer runtime exports it; gcc ships no header for it
// (sanitizer/allocator_interface.h is clang's).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kMaxChannels = 64;
// Growth per cycle that still counts as flat: allocator bookkeeping and
// page granularity, not a leak.
constexpr double kHeapGrowthPerCycle = 2048.0;
constexpr int kWarmUpCycles = 5;

// Bytes of heap in use. A sanitizer's allocator replaces malloc, so ask it.
double heapInUse() {
#ifdef KOVALITH_VALIDATE_SANITIZED
    return static_cast<double>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
#endif
}

void checkRecord(Check& check) {
    const vst2::AEffect* e = check.plugin().effect();
    if (e->numInputs < 0 || e->numInputs > kMaxChannels || e->numOutputs < 0 || e->numOutputs > kMaxChannels)
        check.fail("implausible channel counts " + std::to_string(e->numInputs) + " in, " +
                   std::to_string(e->numOutputs) + " out");
    if (e->numParams < 0 || e->numPrograms < 0)
        check.fail("negative counts: " + std::to_string(e->numParams) + " parameters, " +
                   std::to_string(e->numPrograms) + " programs");
    if (!e->processReplacing && !e->process) check.fail("no processing entry");
}

// Open, process, close and unload; then the same again in the same process.
void checkReopen(Check& check) {
    for (int round = 0; round < 2; ++round) {
        std::unique_ptr<Subject> plugin = check.loadAnother();
        plugin->note("open/close round " + std::to_string(round + 1));
        AudioBuffers buffers(plugin->numInputs(), plugin->numOutputs(), 512);
        plugin->resume();
        if (!plugin->process(buffers, 512, check.rng()))
            check.fail("output not finite in round " + std::to_string(round + 1));
        plugin->suspend();
    }
}

// One instance's life: create, open, resume, a block, suspend, close.
void cycle(Check& check, AudioBuffers& buffers) {
    std::unique_ptr<Subject> plugin = check.loadAnother();
    plugin->resume();
    plugin->process(buffers, 512, check.rng());
    plugin->suspend();
}

void checkCycles(Check& check, int cycles) {
    // Keep the library mapped, so the cycles measure the effect and not the loader.
    void* pin = dlopen(check.settings().pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::unique_ptr<Subject> first = check.loadAnother();
    AudioBuffers buffers(first->numInputs(), first->numOutputs(), 512);
    first.reset();
    for (int i = 0; i < kWarmUpCycles; ++i) cycle(check, buffers);
    const double heapBefore = heapInUse(), rssBefore = residentBytes();
    for (int i = 0; i < cycles; ++i) cycle(check, buffers);
    const double heapGrowth = (heapInUse() - heapBefore) / cycles;
    const double rssGrowth = (residentBytes() - rssBefore) / cycles;
    if (heapGrowth > kHeapGrowthPerCycle)
        check.fail("heap grows by " + std::to_string(static_cast<long>(heapGrowth)) + " bytes per cycle");
    if (!residentGrowthFlat(rssGrowth * cycles, cycles))
        check.fail("RSS grows by " + std::to_string(static_cast<long>(rssGrowth)) + " bytes per cycle");
    if (pin) dlclose(pin);
}

}  // namespace

void validateLoad(Session& session) {
    session.run("load", "entry point, magic and channel counts", checkRecord);
    session.run("load", "effOpen, effClose and unload, twice", checkReopen);
    const int cycles = std::max(20, 20 * session.settings().strictness);
    session.run("load", std::to_string(cycles) + " create/close cycles: heap and RSS flat",
                [cycles](Check& check) { checkCycles(check, cycles); });
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
