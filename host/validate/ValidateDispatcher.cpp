// The dispatcher group: every opcode with null and zeroed pointers, odd
// indices and non-finite `opt`, then hostile sample rates.
#include "host/validate/Validate.h"

#include <climits>
#include <cstring>
#include <limits>

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

void sweepOpcodes(Check& check, bool zeroed) {
    Subject& plugin = check.plugin();
    GuardedBuffer scratch(kScratchBytes), valueScratch(kScratchBytes);
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    const int32_t indices[] = {0, -1, plugin.numParams(), plugin.numPrograms(), INT_MIN, INT_MAX};
    const struct {
        intptr_t value;
        float opt;
    } arguments[] = {{0, 0.0f}, {-1, kNaN}, {1, kInf}, {0, -kInf}};
    const PointerKind kind = zeroed ? PointerKind::Zeroed : PointerKind::Null;
    restore(plugin);
    for (int32_t opcode = 0; opcode <= kLastOpcode; ++opcode) {
        if (!swept(opcode)) continue;
        plugin.note("the opcode sweep");
        for (int32_t index : indices) {
            for (const auto& argument : arguments) {
                std::memset(scratch.tail(kScratchBytes), 0, kScratchBytes);
                std::memset(valueScratch.tail(kScratchBytes), 0, kScratchBytes);
                void* ptr = zeroed ? scratch.tail(kScratchBytes) : nullptr;
                intptr_t value = argument.value;
                if (valueIsPointer(opcode))
                    value = zeroed ? reinterpret_cast<intptr_t>(valueScratch.tail(kScratchBytes)) : 0;
                plugin.dispatch(opcode, index, value, ptr, argument.opt, kind);
            }
        }
        restore(plugin);
        plugin.note("a block after opcode " + std::to_string(opcode));
        if (!plugin.process(buffers, kBlock, check.rng()))
            check.fail("output not finite after opcode " + std::to_string(opcode));
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
    session.run("dispatcher", "sample rates 0, -1, nan, inf, 8000, 192000, 1e9", checkSampleRates);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
