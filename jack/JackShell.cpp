#include "jack/JackShell.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "effect/KovalithEffect.h"

namespace kovalith {
namespace jack {

namespace {

constexpr int JackTickDouble = 0x200;
constexpr const char* kInputNames[2] = {"in_L", "in_R"};
constexpr const char* kOutputNames[2] = {"out_L", "out_R"};

// What libjack reports while the client opens, kept for the failure message;
// later reports go to stderr.
char openMessage[256];
void keepOpenMessage(const char* message) { std::snprintf(openMessage, sizeof openMessage, "%s", message); }
void printMessage(const char* message) { std::fprintf(stderr, "kovalith-jack: JACK: %s\n", message); }
void dropMessage(const char*) {}

}  // namespace

bool hostTimeFromTransport(const jack_position_t& position, HostTimeInfo& info) {
    if (!(position.valid & JackPositionBBT)) return false;
    const double bpm = position.beats_per_minute;
    const double beatsPerBar = position.beats_per_bar;
    const double beatType = position.beat_type;
    const double ticksPerBeat = position.ticks_per_beat;
    if (!(std::isfinite(bpm) && bpm > 0.0 && std::isfinite(beatsPerBar) && beatsPerBar > 0.0 &&
          std::isfinite(beatType) && beatType > 0.0 && std::isfinite(ticksPerBeat) && ticksPerBeat > 0.0))
        return false;
    const double tick = (position.valid & JackTickDouble) ? position.tick_double : position.tick;
    double beats = (position.bar - 1) * beatsPerBar + (position.beat - 1) + tick / ticksPerBeat;
    // The bar, beat and tick may describe a frame this many frames before the cycle.
    if ((position.valid & JackBBTFrameOffset) && position.frame_rate > 0)
        beats += position.bbt_offset * bpm / 60.0 / position.frame_rate;
    // Beats count in the signature's note value; host positions in quarter notes.
    const double quarters = 4.0 / beatType;
    info.tempo = bpm;
    info.ppqPosition = beats * quarters;
    info.barStartPosition = (position.bar - 1) * beatsPerBar * quarters;
    info.timeSigNumerator = static_cast<int>(std::lround(beatsPerBar));
    info.timeSigDenominator = static_cast<int>(std::lround(beatType));
    info.tempoValid = info.ppqValid = info.barsValid = info.timeSigValid = true;
    return true;
}

JackShell::JackShell(const JackLibrary& jack, KovalithEffect& effect) : jack_(jack), effect_(effect) {}

JackShell::~JackShell() { close(); }

bool JackShell::open(const std::string& name, std::string* error) {
    openMessage[0] = '\0';
    jack_.set_error_function(keepOpenMessage);
    jack_.set_info_function(dropMessage);
    int status = 0;
    client_ = jack_.client_open(name.c_str(), JackNoStartServer, &status);
    jack_.set_error_function(printMessage);
    if (!client_) {
        if (error) {
            if (status & (JackServerFailed | JackServerError))
                *error = kNoServerMessage;
            else
                *error = std::string("cannot open a JACK client") + (openMessage[0] ? ": " : "") + openMessage;
        }
        return false;
    }
    const unsigned long in = JackPortIsInput, out = JackPortIsOutput;
    for (int c = 0; c < 2; ++c) {
        audioIn_[c] = jack_.port_register(client_, kInputNames[c], kAudioPortType, in, 0);
        audioOut_[c] = jack_.port_register(client_, kOutputNames[c], kAudioPortType, out, 0);
    }
    midiIn_ = jack_.port_register(client_, "midi_in", kMidiPortType, in, 0);
    if (!audioIn_[0] || !audioIn_[1] || !audioOut_[0] || !audioOut_[1] || !midiIn_) {
        if (error) *error = "cannot register the JACK ports";
        close();
        return false;
    }
    sampleRate_ = jack_.get_sample_rate(client_);
    bufferSize_ = jack_.get_buffer_size(client_);
    effect_.setSampleRate(static_cast<float>(sampleRate_.load()));
    jack_.set_process_callback(client_, onProcess, this);
    jack_.set_sample_rate_callback(client_, onSampleRate, this);
    jack_.set_buffer_size_callback(client_, onBufferSize, this);
    jack_.set_xrun_callback(client_, onXrun, this);
    jack_.on_info_shutdown(client_, onShutdown, this);
    return true;
}

bool JackShell::activate(bool connectSystem, std::string* error, std::string* warning) {
    if (!client_ || jack_.activate(client_) != 0) {
        if (error) *error = "cannot activate the JACK client";
        return false;
    }
    active_ = true;
    if (connectSystem) {
        const unsigned long physical = JackPortIsPhysical;
        const char** capture = jack_.get_ports(client_, nullptr, kAudioPortType, physical | JackPortIsOutput);
        const char** playback = jack_.get_ports(client_, nullptr, kAudioPortType, physical | JackPortIsInput);
        connectPair(capture, nullptr, false, warning);
        connectPair(nullptr, playback, true, warning);
        if (capture) jack_.free(capture);
        if (playback) jack_.free(playback);
    }
    return true;
}

// Connects the system's ports in `ports` (from capture, or to playback when
// outward) with ours; a single system port serves both channels.
void JackShell::connectPair(const char* const* from, const char* const* to, bool outward, std::string* warning) {
    const char* const* ports = outward ? to : from;
    if (!ports || !ports[0]) {
        if (warning) *warning += outward ? "no playback ports to connect to\n" : "no capture ports to connect from\n";
        return;
    }
    for (int c = 0; c < 2; ++c) {
        const char* system = ports[c == 1 && ports[1] ? 1 : 0];
        const char* ours = jack_.port_name(outward ? audioOut_[c] : audioIn_[c]);
        const int result = outward ? jack_.connect(client_, ours, system) : jack_.connect(client_, system, ours);
        if (result != 0 && warning)
            *warning += std::string("cannot connect ") + (outward ? ours : system) + " to " + (outward ? system : ours) +
                        "\n";
    }
}

void JackShell::close() {
    if (!client_) return;
    if (active_ && !serverGone()) jack_.deactivate(client_);
    active_ = false;
    jack_.client_close(client_);
    client_ = nullptr;
}

std::string JackShell::clientName() const {
    const char* name = client_ ? jack_.get_client_name(client_) : nullptr;
    return name ? name : "";
}

bool JackShell::readHostTime(HostTimeInfo& info) {
    jack_position_t position{};
    jack_.transport_query(client_, &position);
    return hostTimeFromTransport(position, info);
}

int JackShell::onProcess(jack_nframes_t frames, void* self) {
    static_cast<JackShell*>(self)->process(frames);
    return 0;
}

void JackShell::process(jack_nframes_t frames) {
    const float* inputs[2];
    float* outputs[2];
    for (int c = 0; c < 2; ++c) {
        inputs[c] = static_cast<const float*>(jack_.port_get_buffer(audioIn_[c], frames));
        outputs[c] = static_cast<float*>(jack_.port_get_buffer(audioOut_[c], frames));
    }
    // Control changes are the only MIDI the effect takes; they apply from this block on.
    if (void* midi = jack_.port_get_buffer(midiIn_, frames)) {
        const uint32_t count = jack_.midi_get_event_count(midi);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event{};
            if (jack_.midi_event_get(&event, midi, i) == 0 && event.size == 3)
                effect_.handleMidiMessage(event.buffer[0], event.buffer[1], event.buffer[2]);
        }
    }
    effect_.process(inputs, outputs, static_cast<int>(frames), this);
}

int JackShell::onSampleRate(jack_nframes_t rate, void* self) {
    auto* shell = static_cast<JackShell*>(self);
    shell->sampleRate_.store(rate, std::memory_order_relaxed);
    shell->effect_.setSampleRate(static_cast<float>(rate));
    return 0;
}

// The effect takes blocks of any length; the size is only kept for the read-out.
int JackShell::onBufferSize(jack_nframes_t frames, void* self) {
    static_cast<JackShell*>(self)->bufferSize_.store(frames, std::memory_order_relaxed);
    return 0;
}

int JackShell::onXrun(void* self) {
    static_cast<JackShell*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackShell::onShutdown(int, const char* reason, void* self) {
    auto* shell = static_cast<JackShell*>(self);
    std::snprintf(shell->shutdownReason_, sizeof shell->shutdownReason_, "%s", reason ? reason : "");
    shell->serverGone_.store(true, std::memory_order_release);
}

}  // namespace jack
}  // namespace kovalith
