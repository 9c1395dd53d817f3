// The JACK standalone's process path against the VST 2.4 plug-in's, at blocks
// of 64: "Rubber Boots" on the same looped noise-and-chord signal, once through
// the AEffect's processReplacing and once through JackShell's process callback.
// libjack is replaced by stubs that hand out the buffers, no MIDI and no
// transport, so the difference is the shell's own work (reading the ports, the
// MIDI count, the time request). State the ratio of the two from one run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "effect/KovalithEffect.h"
#include "jack/JackShell.h"
#include "plugin/Kovalith.h"

namespace kovalith {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 64;
constexpr int kSignalFrames = 1 << 16;

struct Signal {
    Signal() : left(kSignalFrames), right(kSignalFrames) {
        uint32_t seed = 9;
        for (int n = 0; n < kSignalFrames; ++n) {
            seed = seed * 1664525u + 1013904223u;
            const double t = n / kRate, noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
            const double chord = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t);
            left[n] = static_cast<float>(chord + 0.3 * noise);
            right[n] = static_cast<float>(0.8 * chord - 0.3 * noise);
        }
    }
    std::vector<float> left, right;
};

const Signal& music() {
    static const Signal signal;
    return signal;
}

// ---- libjack stubs: four audio ports and a MIDI port over plain buffers ----

namespace stub {
int client, ports[5];
jack::JackProcessCallback process = nullptr;
void* processArg = nullptr;
float* buffers[4] = {};  // in_L, in_R, out_L, out_R
char midi[16];

jack::jack_client_t* clientOpen(const char*, int, int* status, ...) {
    if (status) *status = 0;
    return reinterpret_cast<jack::jack_client_t*>(&client);
}
int setProcess(jack::jack_client_t*, jack::JackProcessCallback callback, void* arg) {
    process = callback;
    processArg = arg;
    return 0;
}
jack::jack_port_t* registerPort(jack::jack_client_t*, const char* name, const char*, unsigned long, unsigned long) {
    const std::string n = name;
    const int i = n == "in_L" ? 0 : n == "in_R" ? 1 : n == "out_L" ? 2 : n == "out_R" ? 3 : 4;
    return reinterpret_cast<jack::jack_port_t*>(&ports[i]);
}
void* portBuffer(jack::jack_port_t* port, jack::jack_nframes_t) {
    const int i = static_cast<int>(reinterpret_cast<int*>(port) - ports);
    return i < 4 ? static_cast<void*>(buffers[i]) : static_cast<void*>(midi);
}
uint32_t midiCount(void*) { return 0; }
int transport(const jack::jack_client_t*, jack::jack_position_t* position) {
    position->valid = 0;
    return jack::JackTransportStopped;
}
jack::jack_nframes_t rate(jack::jack_client_t*) { return static_cast<jack::jack_nframes_t>(kRate); }
jack::jack_nframes_t blockSize(jack::jack_client_t*) { return kBlock; }
int ok(jack::jack_client_t*) { return 0; }
int setFramesCallback(jack::jack_client_t*, jack::JackNframesCallback, void*) { return 0; }
int setXrun(jack::jack_client_t*, jack::JackXRunCallback, void*) { return 0; }
void onShutdown(jack::jack_client_t*, jack::JackInfoShutdownCallback, void*) {}
void setMessages(jack::JackMessageFunction) {}
}  // namespace stub

jack::JackLibrary stubLibrary() {
    jack::JackLibrary jack;
    jack.client_open = stub::clientOpen;
    jack.client_close = stub::ok;
    jack.activate = stub::ok;
    jack.deactivate = stub::ok;
    jack.set_process_callback = stub::setProcess;
    jack.set_buffer_size_callback = stub::setFramesCallback;
    jack.set_sample_rate_callback = stub::setFramesCallback;
    jack.set_xrun_callback = stub::setXrun;
    jack.on_info_shutdown = stub::onShutdown;
    jack.set_error_function = stub::setMessages;
    jack.set_info_function = stub::setMessages;
    jack.get_sample_rate = stub::rate;
    jack.get_buffer_size = stub::blockSize;
    jack.port_register = stub::registerPort;
    jack.port_get_buffer = stub::portBuffer;
    jack.midi_get_event_count = stub::midiCount;
    jack.transport_query = stub::transport;
    return jack;
}

void report(benchmark::State& state) {
    const double seconds = static_cast<double>(state.iterations()) * kBlock / kRate;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

intptr_t benchHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;  // no time information
}

void BM_Vst2Shell(benchmark::State& state) {
    auto effect = std::make_unique<Kovalith>(benchHost);
    vst2::AEffect* e = effect->getAeffect();
    e->dispatcher(e, vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    e->dispatcher(e, vst2::effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    e->dispatcher(e, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    std::vector<float> outL(kBlock), outR(kBlock);
    int position = 0;
    for (auto _ : state) {
        if (position + kBlock > kSignalFrames) position = 0;
        float* in[2] = {const_cast<float*>(music().left.data() + position),
                        const_cast<float*>(music().right.data() + position)};
        float* out[2] = {outL.data(), outR.data()};
        e->processReplacing(e, in, out, kBlock);
        benchmark::DoNotOptimize(outL[0]);
        position += kBlock;
    }
    report(state);
}

void BM_JackShell(benchmark::State& state) {
    const jack::JackLibrary library = stubLibrary();
    auto effect = std::make_unique<KovalithEffect>();
    jack::JackShell shell(library, *effect);
    if (!shell.open("bench", nullptr) || !shell.activate(false, nullptr, nullptr)) {
        state.SkipWithError("the stubbed client did not open");
        return;
    }
    std::vector<float> outL(kBlock), outR(kBlock);
    stub::buffers[2] = outL.data();
    stub::buffers[3] = outR.data();
    int position = 0;
    for (auto _ : state) {
        if (position + kBlock > kSignalFrames) position = 0;
        stub::buffers[0] = const_cast<float*>(music().left.data() + position);
        stub::buffers[1] = const_cast<float*>(music().right.data() + position);
        stub::process(kBlock, stub::processArg);
        benchmark::DoNotOptimize(outL[0]);
        position += kBlock;
    }
    report(state);
}

BENCHMARK(BM_Vst2Shell);
BENCHMARK(BM_JackShell);

}  // namespace
}  // namespace kovalith
