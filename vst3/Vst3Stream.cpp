#include "vst3/Vst3Stream.h"

#include <algorithm>

namespace kovalith::vst3 {

bool readStream(v3_bstream** stream, std::vector<uint8_t>& out, std::size_t limit) {
    out.clear();
    if (!stream) return false;
    const v3_bstream* s = entries<v3_bstream>(stream);
    // One byte past the limit tells a stream that holds more from one that ends there.
    uint8_t chunk[4096];
    while (out.size() <= limit) {
        int32_t got = 0;
        const auto wanted = static_cast<int32_t>(std::min(sizeof chunk, limit + 1 - out.size()));
        const v3_result result = s->read(stream, chunk, wanted, &got);
        // Some hosts' streams answer an error rather than 0 bytes at their end.
        if (got <= 0) return result == kResultOk || !out.empty();
        if (result != kResultOk) return false;
        out.insert(out.end(), chunk, chunk + std::min(got, wanted));
    }
    return false;
}

bool writeStream(v3_bstream** stream, const std::vector<uint8_t>& data) {
    if (!stream) return false;
    const v3_bstream* s = entries<v3_bstream>(stream);
    std::size_t done = 0;
    while (done < data.size()) {
        int32_t written = 0;
        const auto size = static_cast<int32_t>(data.size() - done);
        if (s->write(stream, const_cast<uint8_t*>(data.data() + done), size, &written) != kResultOk || written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace kovalith::vst3
