// The parameters group: automation as hosts send it, then values and indices
// no host should send, after which every parameter must still read finite.
#include "host/validate/Validate.h"

#include <cmath>
#include <limits>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kBlock = 256;
// Indices past the count probed by the hostile-index check.
constexpr int kIndicesPastCount = 70;

const float kHostileValues[] = {
    std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(), -1.0f, 2.0f, 1e30f, -1e30f,
    std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(), 1e-40f,
};

void checkAutomation(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    if (plugin.numParams() <= 0) check.skip("the plug-in has no parameters");
    const int blocks = check.scaled(30000, 60);
    for (int b = 0; b < blocks; ++b) {
        for (int n = check.rng().range(1, 4); n > 0; --n)
            plugin.setParameter(check.rng().range(0, plugin.numParams() - 1), randomParameterValue(check.rng()));
        plugin.note("a block after random automation");
        if (!plugin.process(buffers, check.rng().range(1, kBlock), check.rng())) {
            check.fail("output not finite after random in-range automation (block " + std::to_string(b) + ")");
            return;
        }
    }
}

// Every in-range parameter reads back finite; fails naming the first that does not.
bool allParametersFinite(Check& check, const std::string& after) {
    Subject& plugin = check.plugin();
    for (int i = 0; i < plugin.numParams(); ++i) {
        const float value = plugin.getParameter(i);
        if (!std::isfinite(value)) {
            check.fail("getParameter(" + std::to_string(i) + ") is " + describeFloat(value) + " after " + after);
            return false;
        }
    }
    return true;
}

void checkHostileValues(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    if (plugin.numParams() <= 0) check.skip("the plug-in has no parameters");
    for (float value : kHostileValues) {
        const std::string what = "setParameter(every index, " + describeFloat(value) + ")";
        plugin.note(what);
        for (int i = 0; i < plugin.numParams(); ++i) plugin.setParameter(i, value);
        if (!allParametersFinite(check, what)) return;
        if (!check.processFinite(buffers, kBlock, 2, "after " + what)) return;
    }
}

void checkHostileIndices(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    const int count = plugin.numParams();
    plugin.note("parameter indices -5 .. count + 70");
    for (int index = -5; index < count + kIndicesPastCount; ++index) {
        if (index == 0) index = count;  // the valid range is another check's
        for (float value : kHostileValues) plugin.setParameter(index, value);
        plugin.setParameter(index, 0.5f);
        plugin.getParameter(index);
    }
    allParametersFinite(check, "hostile indices");
    check.processFinite(buffers, kBlock, 4, "after hostile indices");
}

}  // namespace

void validateParameters(Session& session) {
    session.run("parameters", "random in-range automation between blocks", checkAutomation);
    session.run("parameters", "values nan, inf, -1, 2, 1e30, denormals", checkHostileValues);
    session.run("parameters", "indices -5 .. count+70", checkHostileIndices);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
