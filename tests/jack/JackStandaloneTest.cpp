// kovalith-jack against a real JACK server (jackd with its dummy driver): this
// process is the other client. It is the transport's timebase master (100 bpm),
// feeds a known signal and a control change into kovalith-jack's inputs and
// records its outputs; the recording must equal the effect core's own render
// of the same input, program, controller and tempo, bit for bit once aligned.
// Then SIGTERM must end the program cleanly, saving the bank it was given back
// with just what the run changed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effect/KovalithEffect.h"
#include "jack/JackLibrary.h"
#include "jack/StateFile.h"
#include "tests/HostProcess.h"
#include "tests/jack/JackTestSupport.h"

namespace kovalith {
namespace jack {
namespace {

constexpr int kSignalFrames = kRate;           // one second
constexpr int kRecordFrames = kSignalFrames + 8 * kPeriod;
constexpr double kTempo = 100.0;               // not the 120 bpm the effect assumes without time info
// "Intermittent": its feedback delay follows the tempo ("Delay Sync" 1/4).
constexpr int kProgram = 1;
constexpr const char* kProgramName = "Intermittent";
// A control change sent with the signal's first frame (channel 4: any channel
// counts) to controller 7, which the bank binds to "Mix" in that program.
constexpr unsigned char kControlChange[3] = {0xB3, 7, 32};
constexpr int kMix = 58;
constexpr std::size_t kBankChunkStart = 160;

// The test's own JACK client: timebase master, player and recorder.
class TestClient {
public:
    TestClient(const JackLibrary& jack, std::vector<float> left, std::vector<float> right) : jack_(jack) {
        signal_[0] = std::move(left);
        signal_[1] = std::move(right);
        recorded_[0].assign(kRecordFrames, 0.0f);
        recorded_[1].assign(kRecordFrames, 0.0f);
    }
    ~TestClient() {
        if (client_) jack_.client_close(client_);
    }

    bool open(std::chrono::milliseconds limit) {
        // Each attempt while the server starts would print why it failed.
        jack_.set_error_function(dropMessage);
        jack_.set_info_function(dropMessage);
        // The server may still be starting.
        waitFor([&] { return (client_ = jack_.client_open("kovalith-test", JackNoStartServer, nullptr)); }, limit);
        if (!client_) return false;
        for (int c = 0; c < 2; ++c) {
            const char* suffix = c == 0 ? "L" : "R";
            out_[c] = jack_.port_register(client_, (std::string("play_") + suffix).c_str(), kAudioPortType,
                                          JackPortIsOutput, 0);
            in_[c] = jack_.port_register(client_, (std::string("rec_") + suffix).c_str(), kAudioPortType,
                                         JackPortIsInput, 0);
        }
        midiOut_ = jack_.port_register(client_, "midi_out", kMidiPortType, JackPortIsOutput, 0);
        jack_.set_process_callback(client_, onProcess, this);
        jack_.set_xrun_callback(client_, onXrun, this);
        return jack_.activate(client_) == 0 && jack_.set_timebase_callback(client_, 0, onTimebase, this) == 0;
    }
    jack_client_t* client() const { return client_; }
    std::string port(bool output, int c) const { return jack_.port_name(output ? out_[c] : in_[c]); }
    std::string midiPort() const { return jack_.port_name(midiOut_); }

    // Plays and records from the first cycle in which all its ports are
    // connected: a connection takes effect in some cycle after jack_connect.
    void start() { state_.store(kArmed); }
    bool finished() const { return state_.load() == kDone; }
    bool timebaseServed() const { return timebaseServed_.load(); }
    jack_nframes_t signalStart() const { return signalStart_.load(); }
    // The first frame of the latest cycle this client ran.
    jack_nframes_t lastCycle() const { return lastCycle_.load(); }
    unsigned xruns() const { return xruns_.load(); }
    const std::vector<float>& recorded(int c) const { return recorded_[c]; }

private:
    enum { kWaiting, kArmed, kPlaying, kDone };

    static int onProcess(jack_nframes_t frames, void* self) {
        static_cast<TestClient*>(self)->process(frames);
        return 0;
    }
    static int onXrun(void* self) {
        static_cast<TestClient*>(self)->xruns_++;
        return 0;
    }
    // Bar 1, beat 1 of a 4/4 bar at kTempo; the transport stays stopped, so
    // the position holds still and only the tempo matters.
    static void onTimebase(int, jack_nframes_t, jack_position_t* position, int, void* self) {
        position->valid = JackPositionBBT;
        position->bar = 1;
        position->beat = 1;
        position->tick = 0;
        position->bar_start_tick = 0.0;
        position->beats_per_bar = 4.0f;
        position->beat_type = 4.0f;
        position->ticks_per_beat = 1920.0;
        position->beats_per_minute = kTempo;
        static_cast<TestClient*>(self)->timebaseServed_.store(true);
    }

    bool connected() const {
        for (jack_port_t* port : {out_[0], out_[1], in_[0], in_[1], midiOut_})
            if (jack_.port_connected(port) == 0) return false;
        return true;
    }

    void process(jack_nframes_t frames) {
        if (state_.load() == kArmed && connected()) state_.store(kPlaying);
        const bool playing = state_.load() == kPlaying;
        lastCycle_.store(jack_.last_frame_time(client_));
        void* midi = jack_.port_get_buffer(midiOut_, frames);
        jack_.midi_clear_buffer(midi);
        if (playing && played_ == 0) {
            signalStart_.store(jack_.last_frame_time(client_));
            jack_.midi_event_write(midi, 0, kControlChange, sizeof kControlChange);
        }
        for (int c = 0; c < 2; ++c) {
            auto* out = static_cast<float*>(jack_.port_get_buffer(out_[c], frames));
            const auto* in = static_cast<const float*>(jack_.port_get_buffer(in_[c], frames));
            for (jack_nframes_t n = 0; n < frames; ++n) {
                const std::size_t at = played_ + n;
                out[n] = playing && at < signal_[c].size() ? signal_[c][at] : 0.0f;
                if (playing && at < recorded_[c].size()) recorded_[c][at] = in[n];
            }
        }
        if (!playing) return;
        played_ += frames;
        if (played_ >= recorded_[0].size()) state_.store(kDone);
    }

    const JackLibrary& jack_;
    jack_client_t* client_ = nullptr;
    jack_port_t* out_[2] = {};
    jack_port_t* in_[2] = {};
    jack_port_t* midiOut_ = nullptr;
    std::vector<float> signal_[2];
    std::vector<float> recorded_[2];
    std::size_t played_ = 0;
    std::atomic<int> state_{kWaiting};
    std::atomic<bool> timebaseServed_{false};
    std::atomic<jack_nframes_t> signalStart_{0};
    std::atomic<jack_nframes_t> lastCycle_{0};
    std::atomic<unsigned> xruns_{0};
};

// A leading impulse, then two tones with noise under a swell, for the
// analysis, the envelope follower and the feedback path to work on.
std::vector<float> testSignal(int channel) {
    std::vector<float> x(kSignalFrames);
    uint32_t seed = 12345u + static_cast<uint32_t>(channel);
    const double pi = 3.14159265358979323846;
    const double frequency = channel == 0 ? 220.0 : 330.0;
    for (int n = 0; n < kSignalFrames; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        const double swell = 0.5 - 0.5 * std::cos(2.0 * pi * n / kSignalFrames);
        x[n] = static_cast<float>(swell * (0.3 * std::sin(2.0 * pi * frequency * n / kRate) + 0.1 * noise));
    }
    x[0] = 0.5f;
    return x;
}

// What the timebase master above gives, as host time.
class FixedTempo : public ITimeInfoSource {
public:
    bool readHostTime(HostTimeInfo& info) override {
        info = HostTimeInfo{};
        info.tempo = kTempo;
        info.tempoValid = info.ppqValid = info.barsValid = info.timeSigValid = true;
        return true;
    }
};

// The effect core's render of `blocks` periods of silence, then the signal:
// both channels, `frames` from the signal's first on, with the control change
// before the signal's first period. The effect starts as
// kovalith-jack does: the bank file, then the program (every program applied
// draws new tables for random LFO shapes, so the steps count).
std::vector<std::vector<float>> coreRender(const std::vector<float> (&signal)[2], long blocks,
                                           const std::string& bank, std::size_t frames) {
    auto effect = std::make_unique<KovalithEffect>();
    StateFileKind kind;
    EXPECT_TRUE(loadStateFile(*effect, bank, kind, nullptr));
    effect->setProgram(kProgram);
    effect->setSampleRate(static_cast<float>(kRate));
    FixedTempo tempo;
    const std::size_t lead = static_cast<std::size_t>(blocks) * kPeriod;
    const std::size_t total = lead + frames;
    std::vector<std::vector<float>> in(2, std::vector<float>(total, 0.0f)), out = in;
    for (int c = 0; c < 2; ++c) std::copy(signal[c].begin(), signal[c].begin() + frames, in[c].begin() + lead);
    for (std::size_t at = 0; at < total; at += kPeriod) {
        if (at == lead) effect->handleMidiMessage(kControlChange[0], kControlChange[1], kControlChange[2]);
        const int count = static_cast<int>(std::min<std::size_t>(kPeriod, total - at));
        const float* inputs[2] = {in[0].data() + at, in[1].data() + at};
        float* outputs[2] = {out[0].data() + at, out[1].data() + at};
        effect->process(inputs, outputs, count, &tempo);
    }
    for (auto& channel : out) channel.erase(channel.begin(), channel.begin() + lead);
    return out;
}

// Without a server, and without libjack itself: the program says why and fails.
TEST(JackStandalone, WithoutServerOrLibrarySaysWhyAndFails) {
    JackLibrary jack;
    std::string why;
    if (!jack.load(&why)) GTEST_SKIP() << why;
    // A server name nobody runs; kovalith-jack never starts a server itself.
    const std::string prefix = "JACK_DEFAULT_SERVER=kovalith-none-" + std::to_string(getpid()) + " ";
    testing::HostRun run = testing::runHostProcess(KOVALITH_JACK_EXE, "--no-gui", scratchPath("noserver"), prefix);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "kovalith-jack: no JACK server is running\n");

    // The library hidden behind an empty file in a private mount namespace.
    Dl_info library{};
    char path[PATH_MAX];
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(jack.client_open), &library) && realpath(library.dli_fname, path));
    const std::string hidden = "-m sh -c \"mount --bind /dev/null '" + std::string(path) + "' && exec '" +
                               KOVALITH_JACK_EXE + "' --no-gui\"";
    run = testing::runHostProcess("unshare", hidden, scratchPath("nolibrary"));
    if (run.err.find("kovalith-jack") == std::string::npos) GTEST_SKIP() << "cannot hide libjack: " << run.err;
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "kovalith-jack: JACK is not installed (libjack.so.0 not found)\n");
}

TEST(JackStandalone, RecordingMatchesTheCoreAndSigtermEndsCleanly) {
    JackLibrary jack;
    if (const std::string why = missingJack(jack); !why.empty()) GTEST_SKIP() << why;
    const std::unique_ptr<Child> jackd = startServer("record");

    const std::vector<float> signal[2] = {testSignal(0), testSignal(1)};
    TestClient client(jack, signal[0], signal[1]);
    ASSERT_TRUE(client.open(10s)) << "jackd did not start: " << testing::readTextFile(scratchPath("record-jackd.log"));
    ASSERT_TRUE(waitFor([&] { return client.timebaseServed(); }, 5s));

    // The bank it is given, as the VST 2.4 host exports it.
    const std::string bank = scratchPath("bank") + ".fxb";
    ASSERT_EQ(testing::runHostProcess(KOVALITH_HOST_EXE, "export-fxb '" + bank + "'", scratchPath("export")).exitCode,
              0);
    std::vector<uint8_t> exported = readBytes(bank);
    ASSERT_EQ(exported.size(), kBankChunkStart + sizeof(ProgramBank));
    // Controller 7 learned for "Mix" in the program (x86 records are little-endian).
    const std::size_t record = kBankChunkStart + kProgram * sizeof(ProgramRecord);
    const int32_t controller = kControlChange[1];
    std::memcpy(&exported[record + offsetof(ProgramRecord, midiMap) + kMix * 4], &controller, 4);
    writeBytes(bank, exported);
    const std::string reference = scratchPath("reference") + ".fxb";
    writeBytes(reference, exported);

    const jack_nframes_t before = client.lastCycle();
    Child standalone({KOVALITH_JACK_EXE, "--no-gui", "--preset", kProgramName, "--state", bank, "--save"},
                     scratchPath("standalone.log"));
    const char* ours[4] = {"Kovalith:in_L", "Kovalith:in_R", "Kovalith:out_L", "Kovalith:out_R"};
    ASSERT_TRUE(waitFor([&] { return jack.port_by_name(client.client(), ours[3]) != nullptr; }, 10s))
        << testing::readTextFile(scratchPath("standalone.log"));
    // Connections succeed once the client is active.
    ASSERT_TRUE(waitFor([&] { return jack.connect(client.client(), client.port(true, 0).c_str(), ours[0]) == 0; }, 5s));
    ASSERT_EQ(jack.connect(client.client(), client.port(true, 1).c_str(), ours[1]), 0);
    ASSERT_EQ(jack.connect(client.client(), ours[2], client.port(false, 0).c_str()), 0);
    ASSERT_EQ(jack.connect(client.client(), ours[3], client.port(false, 1).c_str()), 0);
    ASSERT_EQ(jack.connect(client.client(), client.midiPort().c_str(), "Kovalith:midi_in"), 0);
    client.start();
    ASSERT_TRUE(waitFor([&] { return client.finished(); }, 10s));

    EXPECT_EQ(standalone.terminate(5s), 0) << testing::readTextFile(scratchPath("standalone.log"));
    // Saved back as it came, but for the current program (the big-endian word
    // at 28) and the "Mix" the controller set.
    exported[31] = kProgram;
    const float mix = static_cast<float>(kControlChange[2] / 127.0);
    std::memcpy(&exported[record + offsetof(ProgramRecord, params) + kMix * 4], &mix, 4);
    const std::vector<uint8_t> saved = readBytes(bank);
    const auto differ = std::mismatch(saved.begin(), saved.end(), exported.begin(), exported.end());
    EXPECT_TRUE(saved == exported) << "the saved bank (" << saved.size() << " bytes) differs at byte "
                                   << (differ.first - saved.begin());
    // Late wake-ups of the dummy driver on a busy machine count as xruns; in
    // synchronous mode no client misses a cycle through them.
    RecordProperty("xruns", static_cast<int>(client.xruns()));

    // The signal's impulse marks where the output starts: whole periods later
    // (the trip through the graph), never inside one.
    const std::vector<float>& left = client.recorded(0);
    std::size_t delay = 0;
    while (delay < left.size() && std::fabs(left[delay]) < 1e-3f) ++delay;
    ASSERT_LT(delay, 8u * kPeriod);
    ASSERT_EQ(delay % kPeriod, 0u) << "the output starts inside a period";

    // The effect ran some periods of silence before the signal reached it:
    // the cycles from its activation, which came after the cycle `before`, to
    // the signal's. Usually a few, more on a busy machine: count up from none,
    // comparing a first stretch, and the whole recording where that matches.
    const long most = static_cast<int32_t>(client.signalStart() - before + delay) / kPeriod + 1;
    const auto error = [&](const std::vector<std::vector<float>>& expected) {
        double largest = 0.0;
        for (int c = 0; c < 2; ++c)
            for (std::size_t n = 0; n < expected[c].size(); ++n)
                largest = std::max(largest, std::fabs(double(client.recorded(c)[delay + n]) - expected[c][n]));
        return largest;
    };
    constexpr std::size_t kFirstStretch = 4096;
    double closest = 1e30;
    long closestLead = -1;
    bool matched = false;
    for (long blocks = 0; blocks <= most && !matched; ++blocks) {
        const double first = error(coreRender(signal, blocks, reference, kFirstStretch));
        if (first < closest) closest = first, closestLead = blocks;
        matched = first == 0.0 && error(coreRender(signal, blocks, reference, signal[0].size())) == 0.0;
        if (matched) RecordProperty("silent_periods", static_cast<int>(blocks));
    }
    EXPECT_TRUE(matched) << "no count of silent periods from 0 to " << most << " gives the recording; closest "
                         << closestLead << " (" << closest << " apart in the first " << kFirstStretch << " frames)";
}

}  // namespace
}  // namespace jack
}  // namespace kovalith
