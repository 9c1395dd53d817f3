// A key as the platform layers deliver it: an editing key, or the text it types.
#pragma once

#include <string>

namespace VSTGUI {

// The keys a view may want beyond the text they type.
enum CVirtualKey : int {
    kKeyNone = 0,  // a key that types `text`, or one the toolkit does not name
    kKeyReturn,    // Return and keypad Enter
    kKeyEscape,
    kKeyBackspace,
    kKeyDelete,
    kKeyLeft,
    kKeyRight,
    kKeyHome,
    kKeyEnd,
};

struct CKeyEvent {
    CVirtualKey key = kKeyNone;
    std::string text;   // UTF-8; empty for the named keys
    int modifiers = 0;  // kShift, kControl, kAlt
};

}  // namespace VSTGUI
