// The host's transport as LV2 delivers it: a time:Position object whenever
// something changes (tempo, position, speed), nothing in between. The engine
// wants the tempo and position at the start of every block, so the clock
// keeps the last position and moves it on by each block's length while the
// transport rolls.
//
// LV2 counts beats of the time signature's beat unit; they become the
// engine's beats as they are (tempo = beatsPerMinute, position = beat), which
// in 4/4 is the quarter-note count other formats deliver.
#pragma once

#include <lv2/atom/atom.h>

#include <cstdint>

#include "engine/ControlMath.h"
#include "lv2/Lv2Messages.h"

namespace kovalith {
namespace lv2 {

class TransportClock {
public:
    void setSampleRate(double rate) { sampleRate_ = rate > 0.0 ? rate : 44100.0; }

    // A time:Position object at `frame` of the current block. At frame 0 it
    // describes this block's start; later in the block it takes effect from
    // the next block on. Other objects are ignored.
    void take(const LV2_Atom_Object* position, const Urids& urids, uint32_t frame);
    // The transport at the start of the current block; false before the host
    // ever gave a tempo or a position.
    bool blockStart(HostTimeInfo& info) const;
    // Ends the current block of `frames` frames.
    void endBlock(uint32_t frames);

private:
    struct State {
        HostTimeInfo info;
        double speed = 0.0;      // 1 while rolling, 0 while stopped
        double barBeat = 0.0;    // beats since the bar's start
        bool known = false;
    };
    void advance(State& state, double frames) const;

    double sampleRate_ = 44100.0;
    State current_;
    State pending_;  // a position given after frame 0, and its frame
    uint32_t pendingFrame_ = 0;
    bool hasPending_ = false;
};

}  // namespace lv2
}  // namespace kovalith
