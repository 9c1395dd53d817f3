// The LV2 plug-in: a KovalithEffect behind LV2's ports and state interface.
//
// Control ports carry plain values (effect/Parameters.h). Each parameter port
// has a reference: the port value the effect has accounted for. A port that
// differs from its reference is a change by the host and is applied (then it
// is the reference); a port that does not is left alone, so the effect's own
// changes (a learned MIDI controller, a restored state, a selected program)
// are not undone each block by ports the host has not touched.
//
// A restore sets the references to what the host puts into the ports with it,
// before or after the call: a saved state carries the port values the host
// had when it saved; a preset (a program number) comes with that program's
// factory values as port values. A value the user sets after the restore
// differs and is applied. A save writes the state as the next block would
// leave it: port changes not yet applied are in it.
//
// The UI hears the effect's values through the notify port.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "effect/KovalithEffect.h"
#include "lv2/Lv2Messages.h"
#include "lv2/TransportClock.h"

namespace kovalith {
namespace lv2 {

class KovalithLv2 final : public IEffectListener, public ITimeInfoSource {
public:
    KovalithLv2(double sampleRate, const LV2_URID_Map& map);
    ~KovalithLv2() override;

    void connectPort(uint32_t port, void* data);
    void activate() { effect_->reset(); }
    void run(uint32_t frames);

    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle);
    // The whole state (a saveState image), or a program to select (a preset).
    // Anything else is refused and the effect keeps its state.
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

    // IEffectListener
    void parameterChanged(int, float) override {}
    void parameterSetByController(int, float) override { valuesChanged_ = true; }
    // ITimeInfoSource
    bool readHostTime(HostTimeInfo& info) override { return clock_.blockStart(info); }

private:
    // The value in parameter index's port now, or NaN without a port.
    float portValue(int index) const;
    void setReferences(const float* plainValues);
    void readControlEvents();
    void applyPortChanges();
    void writeNotifications(uint32_t frames);

    std::unique_ptr<KovalithEffect> effect_;
    Urids urids_;
    LV2_Atom_Forge forge_;
    TransportClock clock_;
    float sampleRate_;

    const float* inputs_[2] = {nullptr, nullptr};
    float* outputs_[2] = {nullptr, nullptr};
    const LV2_Atom_Sequence* control_ = nullptr;
    LV2_Atom_Sequence* notify_ = nullptr;
    // By parameter index, null for none; save reads them while hosts may connect ports anew each block.
    std::array<std::atomic<const float*>, kNumParams> parameterPorts_{};
    // Written by the audio thread and by restore (never concurrent with run);
    // read by save, which may run alongside the audio thread.
    std::array<std::atomic<float>, kNumParams> references_{};

    // Restores counted by restore, caught up with on the audio thread.
    std::atomic<unsigned> restores_{0};
    unsigned restoresSeen_ = 0;

    // Audio thread: what the next notification must carry, and when it may go.
    bool valuesChanged_ = false;
    bool valuesUrgent_ = false;
    int lastSamplesPerBeat_ = 0;
    uint32_t framesSinceValues_ = 0;
    uint32_t valuesInterval_;
    std::array<float, kNumParams> stored_{};
    std::array<float, kNumParams> synced_{};
    // Aligned copies of the host's atom buffers (see readControlEvents).
    alignas(8) uint8_t objectCopy_[1024];
    alignas(8) uint8_t notifyCopy_[4096];
};

}  // namespace lv2
}  // namespace kovalith
