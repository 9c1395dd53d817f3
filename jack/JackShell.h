// The effect as a JACK client: stereo audio ports in and out, a MIDI input
// whose control changes reach the effect's MIDI learn, and the JACK transport
// as the effect's host time.
//
// Threading: JACK calls process on its real-time thread; that path runs the
// effect and nothing else (no allocation, lock or system call). The sample-rate,
// buffer-size, xrun and shutdown callbacks come on JACK's other threads and only
// store values. Everything else is called from the main thread.
#pragma once

#include <atomic>
#include <string>

#include "engine/Engine.h"
#include "jack/JackLibrary.h"

namespace kovalith {

class KovalithEffect;

namespace jack {

// The host time of a transport position: tempo, position in quarter notes, bar
// start and time signature when the position carries bar, beat and tick;
// false (no time information) when it does not or when they make no sense.
bool hostTimeFromTransport(const jack_position_t& position, HostTimeInfo& info);

class JackShell : public ITimeInfoSource {
public:
    JackShell(const JackLibrary& jack, KovalithEffect& effect);
    ~JackShell() override;
    JackShell(const JackShell&) = delete;
    JackShell& operator=(const JackShell&) = delete;

    // Opens the client (never starting a server) and registers its ports and
    // callbacks; false, with the reason in `error`, when that fails. A missing
    // server gives kNoServerMessage.
    bool open(const std::string& name, std::string* error);
    // Starts processing; with connectSystem, also connects the first two
    // physical capture ports to the inputs and the outputs to the first two
    // playback ports (a missing port is reported in `warning` and skipped).
    bool activate(bool connectSystem, std::string* error, std::string* warning);
    // Stops processing and closes the client; safe to call twice.
    void close();

    // The name the server gave the client (it may add a suffix to a taken name).
    std::string clientName() const;
    unsigned sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    unsigned bufferSize() const { return bufferSize_.load(std::memory_order_relaxed); }
    unsigned xruns() const { return xruns_.load(std::memory_order_relaxed); }
    // True once the server has shut the client down; the reason is then kept.
    bool serverGone() const { return serverGone_.load(std::memory_order_acquire); }
    const char* shutdownReason() const { return shutdownReason_; }

    // The engine's one time request per block, from the JACK transport.
    bool readHostTime(HostTimeInfo& info) override;

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static int onSampleRate(jack_nframes_t rate, void* self);
    static int onBufferSize(jack_nframes_t frames, void* self);
    static int onXrun(void* self);
    static void onShutdown(int code, const char* reason, void* self);
    void process(jack_nframes_t frames);
    void connectPair(const char* const* from, const char* const* to, bool outward, std::string* warning);

    const JackLibrary& jack_;
    KovalithEffect& effect_;
    jack_client_t* client_ = nullptr;
    bool active_ = false;
    jack_port_t* audioIn_[2] = {};
    jack_port_t* audioOut_[2] = {};
    jack_port_t* midiIn_ = nullptr;
    std::atomic<unsigned> sampleRate_{0};
    std::atomic<unsigned> bufferSize_{0};
    std::atomic<unsigned> xruns_{0};
    std::atomic<bool> serverGone_{false};
    char shutdownReason_[256] = {};
};

constexpr const char* kNoServerMessage = "no JACK server is running";

}  // namespace jack
}  // namespace kovalith
