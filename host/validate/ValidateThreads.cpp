// The threads group: an automation thread racing the audio thread, as hosts
// do, and sample-rate changes while audio runs.
#include "host/validate/Validate.h"

#include <chrono>
#include <thread>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kMaxBlock = 512;
// Parameter indices past the count that some plug-ins take as commands.
constexpr int kCommandsPastCount = 70;
constexpr int kTextBytes = 256;

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineFor(const Check& check) {
    return Clock::now() + std::chrono::milliseconds(check.scaled(30000, 500));
}

// Fails unless the audio thread ran and every block it made was finite.
void judge(Check& check, AudioRunner& audio, const std::string& during) {
    audio.stop();
    if (audio.nonFiniteBlocks() > 0)
        check.fail(std::to_string(audio.nonFiniteBlocks()) + " of " + std::to_string(audio.blocks()) +
                   " blocks not finite during " + during);
    if (audio.blocks() == 0) check.fail("the audio thread processed no block");
}

// One thing a host's automation or user-interface thread does.
void automate(Subject& plugin, Rng& rng, const std::vector<uint8_t>& bank, const std::vector<uint8_t>& program) {
    const int params = plugin.numParams();
    const int choice = rng.range(0, 99);
    char text[kTextBytes] = {};
    if (choice < 60 && params > 0) {
        plugin.setParameter(rng.range(0, params - 1), randomParameterValue(rng));
    } else if (choice < 70 && plugin.numPrograms() > 0) {
        plugin.dispatch(vst2::effSetProgram, 0, rng.range(0, plugin.numPrograms() - 1));
    } else if (choice < 75) {
        const bool isProgram = rng.chance(0.5);
        std::vector<uint8_t> chunk = isProgram ? program : bank;  // the plug-in may write into it
        if (!chunk.empty()) plugin.setChunk(chunk.data(), static_cast<intptr_t>(chunk.size()), isProgram);
    } else if (choice < 80) {
        plugin.chunk(rng.chance(0.5));
    } else if (choice < 85) {
        plugin.setParameter(params + rng.range(0, kCommandsPastCount), randomParameterValue(rng));
    } else if (params > 0) {
        const int index = rng.range(0, params - 1);
        plugin.getParameter(index);
        plugin.dispatch(vst2::effGetParamDisplay, index, 0, text, 0.0f, PointerKind::Text);
    }
}

void checkAutomationRace(Check& check) {
    Subject& plugin = check.plugin();
    const std::vector<uint8_t> bank = plugin.hasChunks() ? plugin.chunk(false) : std::vector<uint8_t>{};
    const std::vector<uint8_t> program = plugin.hasChunks() ? plugin.chunk(true) : std::vector<uint8_t>{};
    plugin.resume();
    plugin.note("automation racing the audio thread");
    AudioRunner audio(plugin, check.rng().next(), kMaxBlock);
    const Clock::time_point end = deadlineFor(check);
    while (Clock::now() < end) automate(plugin, check.rng(), bank, program);
    judge(check, audio, "automation from another thread");
}

void checkRateChanges(Check& check) {
    Subject& plugin = check.plugin();
    plugin.resume();
    plugin.note("sample-rate changes while audio runs");
    AudioRunner audio(plugin, check.rng().next(), kMaxBlock);
    const Clock::time_point end = deadlineFor(check);
    while (Clock::now() < end) {
        plugin.setSampleRate(static_cast<float>(check.rng().range(8000, 192000)));
        std::this_thread::sleep_for(std::chrono::microseconds(check.rng().range(0, 500)));
    }
    plugin.setSampleRate(44100.0f);
    judge(check, audio, "sample-rate changes");
}

}  // namespace

void validateThreads(Session& session) {
    session.run("threads", "automation, programs, chunks and commands racing the audio thread",
                checkAutomationRace);
    session.run("threads", "sample-rate changes while audio runs", checkRateChanges);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
