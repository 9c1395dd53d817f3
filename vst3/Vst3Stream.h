// Whole states through the host's IBStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vst3/Vst3Com.h"

namespace kovalith::vst3 {

// Reads to the stream's end, at most `limit` bytes; false when the stream
// fails or holds more.
bool readStream(v3_bstream** stream, std::vector<uint8_t>& out, std::size_t limit);
// Writes all of `data`; false when the stream takes less.
bool writeStream(v3_bstream** stream, const std::vector<uint8_t>& data);

}  // namespace kovalith::vst3
