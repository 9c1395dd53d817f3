// The events group: effProcessEvents with lists a careless host or a broken
// MIDI device can produce.
#include "host/validate/Validate.h"

#include <climits>
#include <cstddef>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kBlock = 256;
constexpr int kHugeList = 65536;

// The published system-exclusive event (VstMidiSysexEvent).
struct SysexEvent {
    int32_t type;
    int32_t byteSize;
    int32_t deltaFrames;
    int32_t flags;
    int32_t dumpBytes;
    intptr_t reserved1;
    char* sysexDump;
    intptr_t reserved2;
};
static_assert(sizeof(SysexEvent) == 48 && offsetof(SysexEvent, sysexDump) == 32, "VstMidiSysexEvent layout");

// Sends the list and processes one block after it.
void deliver(Check& check, AudioBuffers& buffers, EventList& list, const std::string& what) {
    Subject& plugin = check.plugin();
    plugin.note(what);
    plugin.dispatch(vst2::effProcessEvents, 0, 0, list.events(), 0.0f, PointerKind::Events);
    check.processFinite(buffers, kBlock, 1, "after " + what);
}

uint8_t randomByte(Rng& rng) { return static_cast<uint8_t>(rng.next()); }

void checkOddLists(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    plugin.note("a null event list");
    plugin.dispatch(vst2::effProcessEvents, 0, 0, nullptr);
    check.processFinite(buffers, kBlock, 1, "after a null event list");

    vst2::VstMidiEvent note = midiEvent(0x90, 60, 100, 0);
    EventList list(2);
    list.set(0, &note);
    list.set(1, &note);
    for (int32_t count : {0, -1, -1000, INT_MIN}) {
        list.setCount(count);
        deliver(check, buffers, list, "an event list of count " + std::to_string(count));
    }
    list.setCount(2);
    list.set(1, nullptr);
    deliver(check, buffers, list, "an event list with a null entry");
    list.set(0, nullptr);
    deliver(check, buffers, list, "an event list of null entries");

    EventList huge(kHugeList);
    vst2::VstMidiEvent cc = midiEvent(0xB0, 7, 64, 0);
    huge.setCount(kHugeList);
    for (int i = 0; i < kHugeList; ++i) huge.set(i, i % 2 ? &cc : &note);
    deliver(check, buffers, huge, "an event list of " + std::to_string(kHugeList) + " events");
}

void checkRandomMidi(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    constexpr int kMaxEvents = 16;
    vst2::VstMidiEvent events[kMaxEvents];
    EventList list(kMaxEvents);
    const int lists = check.scaled(40000, 80);
    for (int l = 0; l < lists && !check.failed(); ++l) {
        const int count = check.rng().range(1, kMaxEvents);
        for (int i = 0; i < count; ++i) {
            Rng& rng = check.rng();
            events[i] = midiEvent(randomByte(rng), randomByte(rng), randomByte(rng), rng.range(0, kBlock - 1));
            events[i].midiData[3] = static_cast<char>(randomByte(rng));
            list.set(i, &events[i]);
        }
        list.setCount(count);
        deliver(check, buffers, list, std::to_string(count) + " events of random MIDI bytes");
    }
}

void checkSysex(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    std::vector<char> dump(kHugeList);
    for (char& b : dump) b = static_cast<char>(check.rng().next() & 0x7F);
    dump.front() = static_cast<char>(0xF0);
    dump.back() = static_cast<char>(0xF7);
    const struct {
        const char* what;
        int32_t bytes;
        char* data;
    } cases[] = {
        {"a short sysex", 6, dump.data() + dump.size() - 6},
        {"a 64 KiB sysex", kHugeList, dump.data()},
        {"a sysex with a null dump and size 0", 0, nullptr},
        {"a sysex of negative size", -1, dump.data()},
    };
    EventList list(1);
    for (const auto& c : cases) {
        SysexEvent sysex{vst2::kVstSysExType, sizeof(SysexEvent), 0, 0, c.bytes, 0, c.data, 0};
        list.setCount(1);
        list.set(0, &sysex);
        deliver(check, buffers, list, c.what);
    }
}

void checkStrangeEvents(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kBlock);
    plugin.resume();
    EventList list(1);
    list.setCount(1);
    for (int32_t type : {0, 2, 3, 4, 5, 7, 100, -1, INT_MAX}) {
        vst2::VstEvent event{};
        event.type = type;
        event.byteSize = sizeof event;
        for (char& b : event.data) b = static_cast<char>(randomByte(check.rng()));
        list.set(0, &event);
        deliver(check, buffers, list, "an event of unknown type " + std::to_string(type));
    }
    for (int32_t delta : {-1, kBlock, INT_MAX, INT_MIN}) {
        vst2::VstMidiEvent cc = midiEvent(0xB0, 1, 64, delta);
        list.set(0, &cc);
        deliver(check, buffers, list, "a MIDI event at deltaFrames " + std::to_string(delta));
    }
    for (int32_t size : {0, -1}) {
        vst2::VstMidiEvent cc = midiEvent(0x90, 64, 64, 0);
        cc.byteSize = size;
        list.set(0, &cc);
        deliver(check, buffers, list, "a MIDI event of byteSize " + std::to_string(size));
    }
}

}  // namespace

void validateEvents(Session& session) {
    session.run("events", "null lists, odd counts, null entries, a huge list", checkOddLists);
    session.run("events", "random MIDI bytes", checkRandomMidi);
    session.run("events", "system exclusive", checkSysex);
    session.run("events", "unknown types, odd offsets and sizes", checkStrangeEvents);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
