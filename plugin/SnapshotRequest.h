// Kovalith's vendor-specific requests for drawing its editor offscreen, so a
// host without a display (our `kovalith snapshot`, documentation builds) can
// show the window, at any scale the editor supports.
//
// The size first:
//   opcode effVendorSpecific (50)
//   index  kSnapshotSizeRequest ('KvSz')
//   ptr    two int32_t that receive the width and height in pixels at the scale
//   opt    the scale, 1 to 3
//   answer 1 with the size written; 0 (nothing written) for a null ptr or a
//          scale outside 1..3
//
// Then the pixels:
//   opcode effVendorSpecific (50)
//   index  kSnapshotRequest ('KvSn')
//   value  bytes from one row of the buffer to the next, at least 4 x width
//   ptr    the caller's buffer of width x height pixels as kSnapshotSizeRequest
//          answered for the same scale, each a native-endian 32-bit word
//          0xAARRGGBB with premultiplied colour (cairo's ARGB32 layout)
//   opt    the scale, 1 to 3; 0 means 1 (the size effEditGetRect gives at scale 1)
//   answer 1 once the whole window, every control showing the current values,
//          is in the buffer, whether the window is open or not and whatever
//          scale it has; 0 otherwise (a scale outside 1..3 included)
//
// Sent on the host's user-interface thread, like the other editor requests.
#pragma once

#include "plugin/vst2.h"

namespace kovalith {

constexpr int32_t kSnapshotRequest = vst2::fourCC('K', 'v', 'S', 'n');
constexpr int32_t kSnapshotSizeRequest = vst2::fourCC('K', 'v', 'S', 'z');

// The scale factor a host gives the editor: effVendorSpecific with index 'PreS', value
// 'AeCs' and the factor in opt (1.5 for 150 %); the answer is 1. The user's own choice
// in the editor's menu still wins over it.
constexpr int32_t kHostScaleRequest = vst2::fourCC('P', 'r', 'e', 'S');
constexpr intptr_t kHostScaleValue = vst2::fourCC('A', 'e', 'C', 's');

}  // namespace kovalith
