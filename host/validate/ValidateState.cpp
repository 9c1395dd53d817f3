// The state group: the plug-in's own bank and program chunks saved and
// restored, then mutated in every way a damaged session file can be.
#include "host/validate/Validate.h"

#include <algorithm>
#include <cstring>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kBlock = 256;
constexpr size_t kMaxExtension = 1024;

const char* chunkName(bool program) { return program ? "program chunk" : "bank chunk"; }

std::vector<uint8_t> ownChunk(Check& check, bool program) {
    Subject& plugin = check.plugin();
    if (!plugin.hasChunks()) check.skip("the plug-in keeps no chunks (effFlagsProgramChunks is not set)");
    std::vector<uint8_t> bytes = plugin.chunk(program);
    if (bytes.empty()) check.skip(std::string("the plug-in gives no ") + chunkName(program));
    return bytes;
}

// Hands `bytes` to the plug-in from memory that ends at a guard page, so a
// read past the announced size faults.
intptr_t load(Subject& plugin, const std::vector<uint8_t>& bytes, bool program) {
    GuardedBuffer buffer(std::max<size_t>(bytes.size(), 1));
    uint8_t* data = buffer.tail(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data);
    return plugin.setChunk(data, static_cast<intptr_t>(bytes.size()), program);
}

// A damaged copy; answers what was done to it.
std::string mutate(std::vector<uint8_t>& bytes, Rng& rng) {
    const size_t size = bytes.size();
    const auto at = [&] { return static_cast<size_t>(rng.range(0, static_cast<int>(size) - 1)); };
    switch (rng.range(0, 5)) {
    case 0: {
        const int flips = rng.range(1, 8);
        for (int i = 0; i < flips; ++i) bytes[at()] ^= static_cast<uint8_t>(1u << rng.range(0, 7));
        return std::to_string(flips) + " bit flips";
    }
    case 1:
    case 2: {
        const uint8_t fill = rng.chance(0.5) ? 0x00 : 0xFF;
        const size_t start = at(), length = std::min<size_t>(size - start, static_cast<size_t>(rng.range(1, 256)));
        std::fill(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + length), fill);
        return "a run of " + std::to_string(length) + " bytes " + (fill ? "0xFF" : "0x00");
    }
    case 3:
        bytes.resize(at());
        return "truncated to " + std::to_string(bytes.size()) + " bytes";
    case 4: {
        const size_t extra = static_cast<size_t>(rng.range(1, kMaxExtension));
        for (size_t i = 0; i < extra; ++i) bytes.push_back(static_cast<uint8_t>(rng.next()));
        return "extended by " + std::to_string(extra) + " bytes";
    }
    default:
        bytes.resize(static_cast<size_t>(rng.range(0, static_cast<int>(2 * size))));
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng.next());
        return std::to_string(bytes.size()) + " random bytes";
    }
}

void checkRoundTrip(Check& check, bool program) {
    Subject& plugin = check.plugin();
    const std::vector<uint8_t> saved = ownChunk(check, program);
    plugin.note(std::string("reloading its own ") + chunkName(program));
    if (load(plugin, saved, program) == 0) check.fail(std::string("refuses its own ") + chunkName(program));
    const std::vector<uint8_t> again = plugin.chunk(program);
    if (again != saved)
        check.fail("save, load, save differs (" + std::to_string(saved.size()) + " then " +
                   std::to_string(again.size()) + " bytes)");
}

void checkMutations(Check& check, bool program) {
    Subject& plugin = check.plugin();
    const std::vector<uint8_t> original = ownChunk(check, program);
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    const int mutations = check.scaled(20000, 40);
    for (int m = 0; m < mutations && !check.failed(); ++m) {
        std::vector<uint8_t> damaged = original;
        const std::string what = std::string(chunkName(program)) + ", " + mutate(damaged, check.rng());
        plugin.note(what);
        load(plugin, damaged, program);
        check.processFinite(buffers, kBlock, 1, "after loading a " + what);
        if (m % 16 == 0) plugin.chunk(program);
    }
    plugin.note(std::string("restoring the original ") + chunkName(program));
    load(plugin, original, program);
    if (plugin.chunk(program) != original)
        check.fail(std::string("the original ") + chunkName(program) + " does not restore byte for byte");
    check.processFinite(buffers, kBlock, 1, "after restoring the original");
}

void checkNullChunk(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    for (bool program : {false, true}) {
        const std::vector<uint8_t> saved = plugin.chunk(program);
        plugin.note(std::string("a null ") + chunkName(program));
        for (intptr_t size : {static_cast<intptr_t>(saved.size()), intptr_t{0}, intptr_t{-1}})
            plugin.setChunk(nullptr, size, program);
        check.processFinite(buffers, kBlock, 1, std::string("after a null ") + chunkName(program));
    }
}

}  // namespace

void validateState(Session& session) {
    for (bool program : {false, true}) {
        const std::string name = chunkName(program);
        session.run("state", name + ": save, load, save gives the same bytes",
                    [program](Check& check) { checkRoundTrip(check, program); });
        session.run("state", name + ": mutated copies, then the original restores",
                    [program](Check& check) { checkMutations(check, program); });
    }
    session.run("state", "null chunk pointers", checkNullChunk);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
