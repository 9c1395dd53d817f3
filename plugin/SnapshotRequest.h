// Kovalith's one vendor-specific request: drawing its editor offscreen, so a
// host without a display (our `kovalith snapshot`, documentation builds) can
// show the window.
//
//   opcode effVendorSpecific (50)
//   index  kSnapshotRequest ('KvSn')
//   value  bytes from one row of the buffer to the next, at least 4 x width
//   ptr    the caller's buffer of effEditGetRect's width x height pixels, each a
//          native-endian 32-bit word 0xAARRGGBB with premultiplied colour
//          (cairo's ARGB32 layout)
//   answer 1 once the whole window, every control showing the current values,
//          is in the buffer, whether the window is open or not; 0 otherwise
//
// Sent on the host's user-interface thread, like the other editor requests.
#pragma once

#include "plugin/vst2.h"

namespace kovalith {

constexpr int32_t kSnapshotRequest = vst2::fourCC('K', 'v', 'S', 'n');

// The scale factor a host gives the editor: effVendorSpecific with index 'PreS', value
// 'AeCs' and the factor in opt (1.5 for 150 %); the answer is 1. The user's own choice
// in the editor's menu still wins over it.
constexpr int32_t kHostScaleRequest = vst2::fourCC('P', 'r', 'e', 'S');
constexpr intptr_t kHostScaleValue = vst2::fourCC('A', 'e', 'C', 's');

}  // namespace kovalith
