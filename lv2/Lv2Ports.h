// The plug-in's ports: stereo audio in and out, an atom input (MIDI, the
// host's transport, the UI's messages), an atom output (to the UI), then one
// control input per parameter that hosts see, in parameter order. Hosts keep
// port values by symbol, so the indices may change between versions.
#pragma once

#include <cstdint>

namespace kovalith {
namespace lv2 {

enum FixedPort : uint32_t {
    kInputLeft = 0,
    kInputRight = 1,
    kOutputLeft = 2,
    kOutputRight = 3,
    kControlPort = 4,
    kNotifyPort = 5,
    kFirstParameterPort = 6,
};

constexpr uint32_t kNoPort = UINT32_MAX;

// The number of parameter ports: the parameters described as exposed.
int parameterPortCount();
// The port of parameter index, or kNoPort for a hidden one or another number.
uint32_t portOfParameter(int index);
// The parameter of a port, or -1 when the port is no parameter's.
int parameterOfPort(uint32_t port);

}  // namespace lv2
}  // namespace kovalith
