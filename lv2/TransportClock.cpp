#include "lv2/TransportClock.h"

#include <lv2/atom/util.h>

#include <cmath>

namespace kovalith {
namespace lv2 {

void TransportClock::take(const LV2_Atom_Object* position, const Urids& urids, uint32_t frame) {
    if (position->body.otype != urids.timePosition) return;
    const LV2_Atom *bpm = nullptr, *beat = nullptr, *bar = nullptr, *barBeat = nullptr, *beatsPerBar = nullptr,
                   *beatUnit = nullptr, *speed = nullptr;
    lv2_atom_object_get(position, urids.timeBeatsPerMinute, &bpm, urids.timeBeat, &beat, urids.timeBar, &bar,
                        urids.timeBarBeat, &barBeat, urids.timeBeatsPerBar, &beatsPerBar, urids.timeBeatUnit,
                        &beatUnit, urids.timeSpeed, &speed, 0);

    // A position says only what changed: the rest carries on from the clock.
    State next = frame == 0 ? current_ : pending_;
    if (frame > 0 && !hasPending_) {
        next = current_;
        advance(next, frame);
    }
    HostTimeInfo& info = next.info;
    double number = 0.0;
    if (readNumber(bpm, urids, &number)) {
        info.tempo = number;
        info.tempoValid = true;
    }
    if (readNumber(speed, urids, &number)) next.speed = number;
    double perBar = info.timeSigValid ? info.timeSigNumerator : 0.0;
    if (readNumber(beatsPerBar, urids, &number) && number >= 1.0) {
        perBar = number;
        info.timeSigNumerator = static_cast<int>(number);
        info.timeSigValid = true;
    }
    if (readNumber(beatUnit, urids, &number) && number >= 1.0) info.timeSigDenominator = static_cast<int>(number);
    double barNumber = 0.0;
    const bool hasBar = readNumber(bar, urids, &barNumber);
    const bool hasBarBeat = readNumber(barBeat, urids, &next.barBeat);
    if (readNumber(beat, urids, &number)) {
        info.ppqPosition = number;
        info.ppqValid = true;
    } else if (hasBar && hasBarBeat && perBar > 0.0) {
        info.ppqPosition = barNumber * perBar + next.barBeat;
        info.ppqValid = true;
    }
    if (hasBarBeat && info.ppqValid) {
        info.barStartPosition = info.ppqPosition - next.barBeat;
        info.barsValid = true;
    }
    next.known = info.tempoValid || info.ppqValid;

    if (frame == 0) {
        current_ = next;
        hasPending_ = false;
    } else {
        pending_ = next;
        pendingFrame_ = frame;
        hasPending_ = true;
    }
}

bool TransportClock::blockStart(HostTimeInfo& info) const {
    if (!current_.known) return false;
    info = current_.info;
    return true;
}

void TransportClock::endBlock(uint32_t frames) {
    if (hasPending_) {
        current_ = pending_;
        advance(current_, pendingFrame_ < frames ? frames - pendingFrame_ : 0);
        hasPending_ = false;
    } else {
        advance(current_, frames);
    }
}

void TransportClock::advance(State& state, double frames) const {
    HostTimeInfo& info = state.info;
    if (state.speed == 0.0 || !info.ppqValid || !info.tempoValid || !(info.tempo > 0.0)) return;
    const double beats = frames * state.speed * info.tempo / (60.0 * sampleRate_);
    info.ppqPosition += beats;
    if (!info.barsValid) return;
    state.barBeat += beats;
    const double perBar = info.timeSigValid ? info.timeSigNumerator : 4.0;
    if (perBar > 0.0 && state.barBeat >= perBar) {
        const double bars = std::floor(state.barBeat / perBar);
        state.barBeat -= bars * perBar;
        info.barStartPosition += bars * perBar;
    }
}

}  // namespace lv2
}  // namespace kovalith
