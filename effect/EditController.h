// What the editor needs of the effect, whichever format hosts it: the values
// to show, the edits it makes (announced to the host as gestures) and the
// MIDI-learn commands of its menus. Each format shell implements it.
#pragma once

#include "effect/Parameters.h"
#include "effect/ParameterText.h"

namespace kovalith {

class IEditController {
public:
    virtual ~IEditController() = default;

    // The value as stored (what programs hold; menus as item numbers).
    virtual float parameterValue(int index) = 0;
    // The engineering value, or for a synced "Delay" / "LFO n Freq" the time
    // as a count of sync units (what the read-outs show).
    virtual float syncedValue(int index) = 0;
    // One user edit of parameter index (0 to 66): begin, any number of
    // performs (set the value and tell the host), end.
    virtual void beginEdit(int index) = 0;
    virtual void performEdit(int index, float value) = 0;
    virtual void endEdit(int index) = 0;
    // A MIDI-learn command for parameter index: 0 learns, 1 forgets; the
    // filter display's menu sends 2, 3 and 4 for "Cutoff".
    virtual void learnCommand(int index, float value) = 0;
    // What the read-outs depend on beyond the values (the sample rate, the
    // tempo), for reading typed values. The default knows only the sync
    // settings; a shell with the effect at hand answers the effect's own.
    virtual DisplayContext displayContext() {
        DisplayContext context;
        context.delaySync = parameterValue(kDelaySync);
        context.lfo1Sync = parameterValue(kLfo1Sync);
        context.lfo2Sync = parameterValue(kLfo2Sync);
        return context;
    }
};

}  // namespace kovalith
