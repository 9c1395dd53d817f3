// One MIDI controller message in an event list, as a host hands it to a plug-in.
#pragma once

#include "plugin/vst2.h"

namespace testevents {

struct ControllerEvent {
    ControllerEvent(int status, int controller, int value = 0) {
        midi.type = vst2::kVstMidiType;
        midi.byteSize = sizeof midi;
        midi.midiData[0] = static_cast<char>(status);
        midi.midiData[1] = static_cast<char>(controller);
        midi.midiData[2] = static_cast<char>(value);
        list.numEvents = 1;
        list.events[0] = reinterpret_cast<vst2::VstEvent*>(&midi);
    }
    ControllerEvent(const ControllerEvent&) = delete;  // the list points into the object
    ControllerEvent& operator=(const ControllerEvent&) = delete;

    vst2::VstEvents* events() { return &list; }
    void setValue(int value) { midi.midiData[2] = static_cast<char>(value); }

    vst2::VstMidiEvent midi{};
    vst2::VstEvents list{};
};

}  // namespace testevents
