#include "lv2/Lv2Ports.h"

#include <array>

#include "effect/Parameters.h"

namespace kovalith {
namespace lv2 {
namespace {

struct PortTable {
    std::array<uint32_t, kNumParams> portOf{};
    std::array<int, kNumParams> parameterAt{};
    int count = 0;

    PortTable() {
        for (int index = 0; index < kNumParams; ++index) {
            if (!describeParameter(index).exposed) {
                portOf[static_cast<std::size_t>(index)] = kNoPort;
                continue;
            }
            portOf[static_cast<std::size_t>(index)] = kFirstParameterPort + static_cast<uint32_t>(count);
            parameterAt[static_cast<std::size_t>(count++)] = index;
        }
    }
};

const PortTable& table() {
    static const PortTable ports;
    return ports;
}

}  // namespace

int parameterPortCount() { return table().count; }

uint32_t portOfParameter(int index) {
    return isParameterIndex(index) ? table().portOf[static_cast<std::size_t>(index)] : kNoPort;
}

int parameterOfPort(uint32_t port) {
    if (port < kFirstParameterPort || port - kFirstParameterPort >= static_cast<uint32_t>(table().count)) return -1;
    return table().parameterAt[port - kFirstParameterPort];
}

}  // namespace lv2
}  // namespace kovalith
