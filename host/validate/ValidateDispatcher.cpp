// The dispatcher group: every opcode with null and zeroed pointers, odd
// indices and non-finite `opt`, then hostile sample rates.
#include "host/validate/Validate.h"

#include <climits>
#include <cstring>
#include <limits>
#include <vector>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int32_t kLastOpcode = 80;
constexpr size_t kScratchBytes = 64 * 1024;
constexpr int kBlock = 512;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Closing ends the instance, and opening an editor needs a real window.
bool swept(int32_t opcode) { return opcode != vst2::effClose && opcode != vst2::effEditOpen; }

// Opcodes whose `value` is a pointer too; they get the same kind of pointer.
bool valueIsPointer(int32_t opcode) {
    return opcode == vst2::effSetSpeakerArrangement || opcode == vst2::effGetSpeakerArrangement;
}

// Back to a sane state, resumed, so a block can show whether the call hurt.
void restore(Subject& plugin) {
    plugin.suspend();
    plugin.setSampleRate(44100.0f);
    plugin.setBlockSize(kBlock);
    plugin.resume();
}

// Makes dispatcher calls with a null or a zeroed pointer (and value, where the
// value is a pointer too), the zeroed memory ending at a guard page.
class OddCaller {
public:
    explicit OddCaller(Subject& plugin) : plugin_(plugin), ptr_(kScratchBytes), valuePtr_(kScratchBytes) {}

    void call(int32_t opcode, int32_t index, intptr_t value, float opt, bool zeroed) {
        std::memset(ptr_.tail(kScratchBytes), 0, kScratchBytes);
        std::memset(valuePtr_.tail(kScratchBytes), 0, kScratchBytes);
        void* ptr = zeroed ? ptr_.tail(kScratchBytes) : nullptr;
        if (valueIsPointer(opcode)) value = zeroed ? reinterpret_cast<intptr_t>(valuePtr_.tail(kScratchBytes)) : 0;
        plugin_.dispatch(opcode, index, value, ptr, opt, zeroed ? PointerKind::Zeroed : PointerKind::Null);
    }

private:
    Subject& plugin_;
    GuardedBuffer ptr_, valuePtr_;
};

std::vector<int32_t> oddIndices(Subject& plugin) {
    return {0, -1, plugin.numParams(), plugin.numPrograms(), INT_MIN, INT_MAX};
}

void sweepOpcodes(Check& check, bool zeroed) {
    Subject& plugin = check.plugin();
    OddCaller caller(plugin);
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    const struct {
        intptr_t value;
        float opt;
    } arguments[] = {{0, 0.0f}, {-1, kNaN}, {1, kInf}, {0, -kInf}};
    restore(plugin);
    for (int32_t opcode = 0; opcode <= kLastOpcode; ++opcode) {
        if (!swept(opcode)) continue;
        plugin.note("the opcode sweep");
        for (int32_t index : oddIndices(plugin))
            for (const auto& argument : arguments) caller.call(opcode, index, argument.value, argument.opt, zeroed);
        restore(plugin);
        plugin.note("a block after opcode " + std::to_string(opcode));
        if (!plugin.process(buffers, kBlock, check.rng()))
            check.fail("output not finite after opcode " + std::to_string(opcode));
    }
}

// Random opcodes with random picks of the odd arguments, a block now and then.
void fuzzOpcodes(Check& check) {
    Subject& plugin = check.plugin();
    OddCaller caller(plugin);
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    const std::vector<int32_t> indices = oddIndices(plugin);
    const intptr_t values[] = {0, 1, -1, 2, 127, 1024};
    const float opts[] = {0.0f, 0.5f, 1.0f, -1.0f, kNaN, kInf, -kInf, 1e30f};
    constexpr int kCallsPerBlock = 64;
    Rng& rng = check.rng();
    restore(plugin);
    const int calls = check.scaled(60000, 200);
    for (int c = 1; c <= calls && !check.failed(); ++c) {
        int32_t opcode = vst2::effClose;
        while (!swept(opcode)) opcode = rng.range(0, kLastOpcode);
        const int32_t index = rng.chance(0.5) ? rng.range(-2, 80) : indices[rng.range(0, 5)];
        plugin.note("random opcodes");
        caller.call(opcode, index, values[rng.range(0, 5)], opts[rng.range(0, 7)], rng.chance(0.5));
        if (c % kCallsPerBlock == 0) {
            restore(plugin);
            plugin.note("a block after random opcodes");
            check.processFinite(buffers, kBlock, 1, "after random opcodes");
        }
    }
}

void checkSampleRates(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    const int blocks = check.scaled(100, 4);
    for (float rate : {0.0f, -1.0f, kNaN, kInf, 8000.0f, 192000.0f, 1e9f}) {
        plugin.note("switching to rate " + describeFloat(rate));
        plugin.suspend();
        plugin.setSampleRate(rate);
        plugin.resume();
        plugin.note("processing at rate " + describeFloat(rate));
        check.processFinite(buffers, kBlock, blocks, "at " + describeFloat(rate) + " Hz");
        restore(plugin);
        plugin.note("processing at 44100 Hz after rate " + describeFloat(rate));
        check.processFinite(buffers, kBlock, blocks, "at 44100 Hz after " + describeFloat(rate) + " Hz");
    }
}

}  // namespace

void validateDispatcher(Session& session) {
    session.run("dispatcher", "opcodes 0-80 with null pointers, odd indices and opt",
                [](Check& check) { sweepOpcodes(check, false); });
    session.run("dispatcher", "opcodes 0-80 with zeroed pointers, odd indices and opt",
                [](Check& check) { sweepOpcodes(check, true); });
    session.run("dispatcher", "random opcodes with odd arguments", fuzzOpcodes);
    session.run("dispatcher", "sample rates 0, -1, nan, inf, 8000, 192000, 1e9", checkSampleRates);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
