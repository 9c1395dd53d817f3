// `kovalith render` and `kovalith demo` end to end: real audio files written
// and read back through libsndfile, the executable run as a subprocess.
#include "host/PresetFiles.h"
#include "tests/HostProcess.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>

namespace kovalith {
namespace host {
namespace {

using RunResult = testing::HostRun;

std::string tmp(const std::string& name) {
    return std::string(TEST_TMP_DIR) + "/render-" + std::to_string(getpid()) + "-" + name;
}

// Runs build/kovalith with `args` (shell-quoted where needed), optionally in `directory`.
RunResult kovalith(const std::string& args, const std::string& directory = "") {
    const std::string prefix = directory.empty() ? "" : "cd '" + directory + "' && ";
    return testing::runHostProcess(KOVALITH_HOST_EXE, args, tmp("run"), prefix);
}

struct Audio {
    int channels = 0;
    int sampleRate = 0;
    int format = 0;
    long frames = 0;
    std::vector<float> samples;  // interleaved

    float at(long frame, int channel) const { return samples[static_cast<size_t>(frame * channels + channel)]; }
    std::vector<float> channel(int c) const {
        std::vector<float> out(static_cast<size_t>(frames));
        for (long n = 0; n < frames; ++n) out[static_cast<size_t>(n)] = at(n, c);
        return out;
    }
};

bool writeAudio(const std::string& path, int format, int sampleRate, int channels, const std::vector<float>& samples) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    const bool ok = sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

std::optional<Audio> readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return std::nullopt;
    Audio a;
    a.channels = info.channels;
    a.sampleRate = info.samplerate;
    a.format = info.format;
    a.frames = static_cast<long>(info.frames);
    a.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, a.samples.data(), info.frames);
    sf_close(file);
    return a;
}

// A second of music-like material: a decaying noise hit and two tones.
std::vector<float> material(int channels, int sampleRate, double seconds = 1.0, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const long frames = static_cast<long>(seconds * sampleRate);
    std::vector<float> s(static_cast<size_t>(frames * channels));
    for (long n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        for (int c = 0; c < channels; ++c) {
            const double tone = 0.3 * std::sin(6.283185307 * (220.0 + 55.0 * c) * t) + 0.15 * std::sin(6.283185307 * 330.0 * t);
            s[static_cast<size_t>(n * channels + c)] =
                static_cast<float>(0.5 * std::exp(-20.0 * std::fmod(t, 0.5)) * noise(rng) + tone);
        }
    }
    return s;
}

std::string fileText(const std::string& path) { return testing::readTextFile(path); }

bool allFinite(const Audio& a) {
    for (const float x : a.samples)
        if (!std::isfinite(x)) return false;
    return true;
}

double rms(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
    double sum = 0.0;
    to = std::min(to, v.size());
    for (size_t n = from; n < to; ++n) sum += static_cast<double>(v[n]) * v[n];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

double rmsDifference(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0.0;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// ---- demo -----------------------------------------------------------------------------

TEST(DemoCommand, RendersTheEffectForEveryPreset) {
    const std::string dry = tmp("demo-dry.wav");
    const RunResult d = kovalith("demo '" + dry + "' --set Mix=0 --tail 0");
    ASSERT_EQ(d.exitCode, 0) << d.err;
    const std::optional<Audio> input = readAudio(dry);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->frames, 8 * 44100);
    const double dryLevel = rms(input->channel(0));
    EXPECT_GT(dryLevel, 0.03);

    for (const std::string preset : {"", "0", "1", "2", "3", "4"}) {
        const std::string out = tmp("demo-" + preset + ".wav");
        const RunResult r = kovalith("demo '" + out + "'" + (preset.empty() ? "" : " --preset " + preset));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find('%'), std::string::npos) << "no progress bar without a terminal: " << r.err;
        EXPECT_NE(r.out.find("wrote " + out), std::string::npos) << r.out;
        const std::optional<Audio> wet = readAudio(out);
        ASSERT_TRUE(wet) << preset;
        EXPECT_EQ(wet->channels, 2);
        EXPECT_EQ(wet->sampleRate, 44100);
        EXPECT_EQ(wet->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(wet->frames, 10 * 44100) << "8 s of signal and a 2 s tail";
        ASSERT_TRUE(allFinite(*wet)) << preset;
        for (int c = 0; c < 2; ++c) {
            const std::vector<float> w = wet->channel(c), x = input->channel(c);
            const double level = rms(w);
            EXPECT_GT(rmsDifference(w, x), 0.2 * dryLevel) << "preset '" << preset << "' is audibly the effect";
            EXPECT_GT(level, 0.1 * dryLevel) << preset;
            EXPECT_LT(level, 4.0 * dryLevel) << preset;
        }
    }
    EXPECT_NE(kovalith("demo '" + tmp("demo-x.wav") + "'").out.find("\"Rubber Boots\""), std::string::npos);
}

TEST(DemoCommand, WritesItsDefaultFileInTheWorkingDirectory) {
    const std::string directory = tmp("demo-cwd");
    mkdir(directory.c_str(), 0755);
    const RunResult r = kovalith("demo --tail 0", directory);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("kovalith-demo.wav"), std::string::npos);
    const std::optional<Audio> a = readAudio(directory + "/kovalith-demo.wav");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->frames, 8 * 44100);
    EXPECT_EQ(kovalith("demo a.wav b.wav", directory).exitCode, 2);
}

// ---- render: files and formats --------------------------------------------------------

TEST(RenderCommand, MonoFeedsBothInputsAndTheDryMixReturnsTheFileUnchanged) {
    const std::string in = tmp("mono16.wav"), out = tmp("mono16-out.wav");
    const std::vector<float> samples = material(1, 48000);
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, samples));
    const RunResult r = kovalith("render '" + in + "' '" + out + "' --set Mix=0 --set Out=1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::optional<Audio> a = readAudio(out), x = readAudio(in);
    ASSERT_TRUE(a && x);
    EXPECT_EQ(a->channels, 2);
    EXPECT_EQ(a->sampleRate, 48000) << "the plug-in runs at the file's rate";
    EXPECT_EQ(a->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT) << "WAV is written as 32-bit float";
    ASSERT_EQ(a->frames, x->frames);
    for (long n = 0; n < a->frames; ++n) {
        ASSERT_EQ(a->at(n, 0), x->at(n, 0)) << n;
        ASSERT_EQ(a->at(n, 1), x->at(n, 0)) << n;
    }
}

TEST(RenderCommand, StereoWavAndFlacInTheirOwnFormats) {
    const std::string wav = tmp("stereo.wav"), flac = tmp("stereo.flac");
    ASSERT_TRUE(writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100)));
    ASSERT_TRUE(writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 32000, 2, material(2, 32000)));

    // Dry: the FLAC survives its own encoding exactly.
    const std::string flacOut = tmp("stereo-out.flac");
    ASSERT_EQ(kovalith("render '" + flac + "' '" + flacOut + "' --set Mix=0").exitCode, 0);
    const std::optional<Audio> fx = readAudio(flac), fo = readAudio(flacOut);
    ASSERT_TRUE(fx && fo);
    EXPECT_EQ(fo->format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_EQ(fo->sampleRate, 32000);
    EXPECT_EQ(fo->samples, fx->samples);

    // Wet: the effect, in the format the output's extension names.
    // Opus takes 48 kHz (and lower rates), not 44.1 kHz.
    const std::string wav48 = tmp("stereo48.wav");
    ASSERT_TRUE(writeAudio(wav48, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, material(2, 48000)));
    const struct {
        std::string name;
        int format;
        const std::string& input;
    } outputs[] = {{"wet.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, wav},
                   {"wet.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, wav},
                   {"wet.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, wav},
                   {"wet.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, wav},
                   {"wet.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, wav},
                   {"wet.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, wav48}};
    for (const auto& o : outputs) {
        const std::string out = tmp(o.name);
        const RunResult r = kovalith("render '" + o.input + "' '" + out + "'");
        ASSERT_EQ(r.exitCode, 0) << o.name << ": " << r.err;
        const std::optional<Audio> a = readAudio(out);
        ASSERT_TRUE(a) << o.name;
        EXPECT_EQ(a->format, o.format) << o.name;
        EXPECT_EQ(a->channels, 2);
        const bool lossy = (o.format & SF_FORMAT_SUBMASK) >= SF_FORMAT_VORBIS;
        EXPECT_NEAR(static_cast<double>(a->frames), a->sampleRate, lossy ? 2048.0 : 0.0) << o.name;
        EXPECT_TRUE(allFinite(*a));
        EXPECT_GT(rms(a->channel(0)), 0.01) << o.name;
    }
    // No extension: the input's container. One no container here has: refused, nothing written.
    const std::string bare = tmp("from-flac");
    ASSERT_EQ(kovalith("render '" + flac + "' '" + bare + "'").exitCode, 0);
    EXPECT_EQ(readAudio(bare)->format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    for (const std::string& command : {"render '" + wav + "' ", std::string("demo ")}) {
        const RunResult r = kovalith(command + "'" + tmp("wet.unknown") + "'");
        EXPECT_EQ(r.exitCode, 2) << command;
        EXPECT_NE(r.err.find("cannot write '.unknown' files; the output's name ends in one of .wav"),
                  std::string::npos) << r.err;
        EXPECT_NE(access(tmp("wet.unknown").c_str(), F_OK), 0) << "never a WAV under another name";
    }
}

TEST(RenderCommand, MoreThanTwoChannelsUseTheFirstTwo) {
    const std::string in = tmp("three.wav"), out = tmp("three-out.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 3, material(3, 44100, 0.25)));
    ASSERT_EQ(kovalith("render '" + in + "' '" + out + "' --set Mix=0").exitCode, 0);
    const std::optional<Audio> a = readAudio(out), x = readAudio(in);
    ASSERT_TRUE(a && x);
    EXPECT_EQ(a->channel(0), x->channel(0));
    EXPECT_EQ(a->channel(1), x->channel(1));
}

TEST(RenderCommand, TailRingsOutPastTheEnd) {
    const std::string in = tmp("short.wav"), out = tmp("short-tail.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100, 0.5)));
    const RunResult r = kovalith("render '" + in + "' '" + out + "' --tail 1.5 --set Delay=0.4 --set Feedback=0.7 --set Mix=1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::optional<Audio> a = readAudio(out);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->frames, 22050 + 66150);
    EXPECT_GT(rms(a->channel(0), 30000, 60000), 1e-3) << "the echo goes on after the input";
    EXPECT_NE(r.out.find("2.00 s"), std::string::npos) << r.out;
}

// ---- render: plug-in options ------------------------------------------------------------

TEST(RenderCommand, BlockSizesOfWholeControlStepsGiveTheSameFile) {
    const std::string in = tmp("blocks.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100)));
    std::optional<Audio> reference;
    for (const char* block : {"512", "64", "4096"}) {
        const std::string out = tmp(std::string("blocks-") + block + ".wav");
        // Without LFO 2's tempo sync, which restarts its phase at every block.
        ASSERT_EQ(kovalith("render '" + in + "' '" + out + "' --block " + block + " --set 'LFO 2 Sync=0'").exitCode, 0);
        const std::optional<Audio> a = readAudio(out);
        ASSERT_TRUE(a);
        if (!reference)
            reference = a;
        else
            EXPECT_EQ(a->samples, reference->samples) << "block " << block;
    }
    // The common option sets the same block size.
    const std::string common = tmp("blocks-common.wav");
    ASSERT_EQ(kovalith("--block-size 64 render '" + in + "' '" + common + "' --set 'LFO 2 Sync=0'").exitCode, 0);
    EXPECT_EQ(readAudio(common)->samples, reference->samples);
}

TEST(RenderCommand, PresetsByNumberOrNameAndSettingsByNameOrIndex) {
    const std::string in = tmp("presets.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100)));
    const auto render = [&](const std::string& options, const std::string& name) {
        const std::string out = tmp(name);
        const RunResult r = kovalith("render '" + in + "' '" + out + "' " + options);
        EXPECT_EQ(r.exitCode, 0) << options << ": " << r.err;
        return readAudio(out).value_or(Audio{});
    };
    const Audio byNumber = render("--preset 2", "p-number.wav");
    EXPECT_EQ(render("--preset Scratchy", "p-name.wav").samples, byNumber.samples);
    EXPECT_EQ(render("--preset scratchy", "p-lower.wav").samples, byNumber.samples);
    EXPECT_NE(render("--preset 1", "p-other.wav").samples, byNumber.samples);
    // Programs with random LFO shapes: finding a name must not draw new tables.
    EXPECT_TRUE(render("--preset 4", "p-4.wav").samples == render("--preset 'Skaro Defence Force'", "p-skaro.wav").samples);
    EXPECT_TRUE(render("--preset 0", "p-0.wav").samples == render("--preset 'Rubber Boots'", "p-boots.wav").samples);

    const Audio byName = render("--preset 2 --set Feedback=0.1 --set 'Delay Sync=0'", "s-name.wav");
    EXPECT_EQ(render("--preset 2 --set 17=0.1 --set=22=0", "s-index.wav").samples, byName.samples);
    EXPECT_NE(byName.samples, byNumber.samples);
    // Settings apply after the preset, in order.
    EXPECT_EQ(render("--set Feedback=0.9 --preset 2 --set 17=0.5 --set 17=0.1 --set 'Delay Sync=0'", "s-order.wav").samples,
              byName.samples);
}

TEST(RenderCommand, PresetFilesLoadAsWithTheCommonOption) {
    const std::string in = tmp("load.wav"), fxp = tmp("scratchy.fxp");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100)));
    {
        std::string error;
        auto plugin = PluginInstance::load(KOVALITH_PLUGIN, &error);
        ASSERT_TRUE(plugin) << error;
        plugin->setProgram(2);
        plugin->setParameter(17, 0.3f);
        ASSERT_TRUE(savePresetFile(*plugin, fxp, &error)) << error;
    }
    const auto render = [&](const std::string& options, const std::string& name) {
        const std::string out = tmp(name);
        const RunResult r = kovalith(options + " '" + in + "' '" + out + "'");
        EXPECT_EQ(r.exitCode, 0) << options << ": " << r.err;
        return readAudio(out).value_or(Audio{});
    };
    const Audio local = render("render --load '" + fxp + "'", "l-local.wav");
    EXPECT_EQ(render("--load '" + fxp + "' render", "l-common.wav").samples, local.samples);
    EXPECT_EQ(render("render --preset 2 --set Feedback=0.3", "l-direct.wav").samples, local.samples);
    EXPECT_EQ(kovalith("render --load /nonexistent/p.fxp '" + in + "' '" + tmp("x.wav") + "'").exitCode, 1);
}

// Any program, with any settings, is exported without a display.
TEST(ExportCommands, TakeAPresetAndSettings) {
    const std::string fxp = tmp("skaro.fxp"), fxb = tmp("skaro.fxb");
    ASSERT_EQ(kovalith("export-fxp '" + fxp + "' --preset 'Skaro Defence Force' --set Mix=0.25").exitCode, 0);
    ASSERT_EQ(kovalith("export-fxb '" + fxb + "' --preset 4 --set Mix=0.25").exitCode, 0);
    for (const std::string& file : {fxp, fxb}) {
        std::string error;
        auto plugin = PluginInstance::load(KOVALITH_PLUGIN, &error);
        ASSERT_TRUE(plugin) << error;
        ASSERT_TRUE(loadPresetFile(*plugin, file, &error)) << error;
        EXPECT_EQ(plugin->currentProgramName(), "Skaro Defence Force") << file;
        EXPECT_EQ(plugin->getParameter(58), 0.25f) << file;
    }
    EXPECT_EQ(kovalith("export-fxp '" + fxp + "' --set 'A Res=1'").exitCode, 2);
}

// Values in the units the editor shows set what the stored values set; a bare
// number stays the stored value ("Cutoff=0.2" is not 0.2 Hz).
TEST(ExportCommands, SettingsInDisplayUnits) {
    const auto exported = [&](const std::string& name, const std::string& settings) {
        const std::string fxp = tmp(name);
        const RunResult r = kovalith("export-fxp '" + fxp + "'" + settings);
        EXPECT_EQ(r.exitCode, 0) << settings << ": " << r.err;
        std::ifstream file(fxp, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const std::string byUnits = exported("units.fxp", " --set 'Delay=250 ms' --set 'Cutoff=4.4 kHz' --set 'LFO 1 Shape=tri'"
                                                      " --set 'Delay Stereo Multiplier=1/2' --set 'Filter Type=Highpass' --set 23=on");
    const std::string byNumbers = exported("numbers.fxp", " --set Delay=0.25 --set Cutoff=0.2 --set 'LFO 1 Shape=1'"
                                                          " --set 'Delay Stereo Multiplier=3' --set 'Filter Type=0.1' --set 23=1");
    ASSERT_FALSE(byNumbers.empty());
    EXPECT_TRUE(byUnits == byNumbers);
    EXPECT_FALSE(exported("default.fxp", "") == byNumbers);
}

// An impulse through an otherwise clean chain: the echo's position shows the
// tempo grid the host reported.
TEST(RenderCommand, TempoDrivesTheSyncedDelay) {
    const std::string in = tmp("impulse.wav");
    std::vector<float> pulse(2 * 40000, 0.0f);
    // The decimator at its finest step takes every second sample (the second,
    // fourth, ... after a reset) and holds it once with 0.98: the impulse sits on
    // a sample it takes, and echoes an even number of samples later are taken
    // alike, so their centre lies exactly that far from the direct pulse's.
    constexpr long at = 1001;
    pulse[2 * at] = 1.0f;
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, pulse));
    const std::string clean =
        " --set 5=0 --set 'S Res=0' --set 'Block Size=0' --set '# Stages=0' --set Decimation=0"
        " --set Saturation=0 --set 'Filter Type=0.7' --set Resonance=0.5 --set Mix=1 --set Out=1"
        " --set 'Delay Sync=4' --set Feedback=0.5 --set 'Delay Stereo Multiplier=0'"
        " --set 'Compressor Types=0' --set 23=0";  // 23: ping-pong off
    std::string matrix;
    for (int i = 36; i <= 56; ++i) matrix += " --set " + std::to_string(i) + "=0.5";
    const auto echoAt = [&](const std::string& settings) {
        const std::string out = tmp("echo" + std::to_string(std::hash<std::string>{}(settings)) + ".wav");
        const RunResult r = kovalith("render '" + in + "' '" + out + "'" + clean + matrix + settings);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::optional<Audio> a = readAudio(out);
        if (!a) return -1.0;
        const auto centre = [&](long from) {
            double weighted = 0.0, total = 0.0;
            for (long n = from - 3; n <= from + 3; ++n) {
                weighted += static_cast<double>(n) * a->at(n, 0);
                total += a->at(n, 0);
            }
            return weighted / total;
        };
        long top = at + 1000;
        for (long n = top; n < a->frames; ++n)
            if (std::fabs(a->at(n, 0)) > std::fabs(a->at(top, 0))) top = n;
        return centre(top) - centre(at);
    };
    // Without time information: 120 bpm; 0.4 s rounds up to 4 units of 5512.5
    // samples. The line adds one sample to its time and the return enters one
    // sample later.
    EXPECT_NEAR(echoAt(" --set Delay=0.4"), 22050.0 + 2.0, 0.05);
    EXPECT_NEAR(echoAt(" --set Delay=0.3 --tempo 90"), 14700.0 + 2.0, 0.05);
    // At 170 bpm a beat is trunc(15564.7) = 15564 samples: 4 units of 3891.
    EXPECT_NEAR(echoAt(" --set Delay=0.3 --tempo 170"), 15564.0 + 2.0, 0.05);
}

// ---- render: failures -----------------------------------------------------------------------

TEST(RenderCommand, BadAndMissingFilesFailWithAMessage) {
    const std::string bad = tmp("bad.wav");
    {
        std::ofstream file(bad);
        file << "RIFF but not really a wave file";
    }
    const std::string out = tmp("never.wav");
    RunResult r = kovalith("render '" + bad + "' '" + out + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot read '" + bad + "'"), std::string::npos) << r.err;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "nothing written";

    r = kovalith("render /nonexistent/in.wav '" + out + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/nonexistent/in.wav"), std::string::npos) << r.err;

    const std::string good = tmp("good.wav");
    ASSERT_TRUE(writeAudio(good, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, material(1, 44100, 0.1)));
    r = kovalith("render '" + good + "' /nonexistent/dir/out.wav");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    r = kovalith("render '" + good + "' '" + good + "'");
    EXPECT_EQ(r.exitCode, 2) << "the input is never overwritten";
    EXPECT_EQ(readAudio(good)->frames, 4410);

    // Clear words where the library has its own.
    r = kovalith("render '" + std::string(TEST_TMP_DIR) + "' '" + out + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("': it is a folder, not an audio file\n"), std::string::npos) << r.err;
    const std::string noRate = tmp("rate0.wav");
    std::string header = fileText(good);
    std::memset(&header[24], 0, 4);  // the fmt chunk's sample rate
    std::ofstream(noRate, std::ios::binary) << header;
    r = kovalith("render '" + noRate + "' '" + out + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("': its header gives a sample rate or channel count of 0\n"), std::string::npos) << r.err;
    r = kovalith("--sample-rate 0.4 demo '" + out + "'");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("bad sample rate '0.4' (1 to 1536000 Hz)"), std::string::npos) << r.err;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "nothing written";
}

// ---- render: what it says ------------------------------------------------------------------

TEST(RenderCommand, SaysWhatBecameOfSamplesBeyondFullScaleAndNonFiniteInput) {
    const std::string in = tmp("loud.wav");
    std::vector<float> loud = material(2, 44100);
    long beyond = 0;
    for (float& x : loud) {
        x *= 2.0f;
        beyond += std::fabs(x) > 1.0f;
    }
    const float peak = *std::max_element(loud.begin(), loud.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    loud[10] = NAN;
    loud[21] = -INFINITY;
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, loud));
    char peakText[32];
    std::snprintf(peakText, sizeof peakText, "peak %+.1f dBFS", 20.0 * std::log10(std::fabs(peak)));
    std::string count = std::to_string(beyond);
    for (int at = static_cast<int>(count.size()) - 3; at > 0; at -= 3) count.insert(static_cast<size_t>(at), ",");

    // The dry mix hands the input on unchanged, but for the two samples that are not numbers.
    const RunResult flac = kovalith("render '" + in + "' '" + tmp("loud.flac") + "' --set Mix=0");
    ASSERT_EQ(flac.exitCode, 0) << flac.err;
    EXPECT_NE(flac.err.find("kovalith: render: " + count + " samples clipped; " + peakText + "\n"), std::string::npos)
        << flac.err;
    EXPECT_NE(flac.err.find("kovalith: render: the input holds 2 samples that are not finite"), std::string::npos)
        << flac.err;
    const RunResult wav = kovalith("render '" + in + "' '" + tmp("loud-out.wav") + "' --set Mix=0");
    ASSERT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_NE(wav.err.find(std::string("kovalith: render: ") + peakText + ", above full scale"), std::string::npos)
        << wav.err;
    EXPECT_EQ(wav.err.find("clipped"), std::string::npos) << "a float file keeps what lies beyond";
    const std::optional<Audio> a = readAudio(tmp("loud-out.wav"));
    ASSERT_TRUE(a);
    EXPECT_TRUE(allFinite(*a));
    EXPECT_EQ(a->samples[10], 0.0f);

    // Silence in, silence out, and it is called so.
    const std::string quiet = tmp("silence.wav");
    ASSERT_TRUE(writeAudio(quiet, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, std::vector<float>(2 * 44100, 0.0f)));
    const RunResult silent = kovalith("render '" + quiet + "' '" + tmp("silence-out.wav") + "'");
    ASSERT_EQ(silent.exitCode, 0) << silent.err;
    EXPECT_NE(silent.out.find(": 1.00 s, silent, "), std::string::npos) << silent.out;
    EXPECT_EQ(silent.err, "");
}

// A file cut short is rendered as far as it goes, with a word of warning.
TEST(RenderCommand, RendersATruncatedOrDamagedInputAsFarAsItReads) {
    const std::string wav = tmp("cut.wav"), flac = tmp("cut.flac");
    ASSERT_TRUE(writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, material(2, 44100)));
    ASSERT_TRUE(writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, material(2, 44100)));
    // WAV: 44 header bytes, then 4 bytes a frame; 10,000 frames remain.
    ASSERT_EQ(truncate(wav.c_str(), 44 + 4 * 10000), 0);
    struct stat file {};
    ASSERT_EQ(stat(flac.c_str(), &file), 0);
    ASSERT_EQ(truncate(flac.c_str(), file.st_size / 3), 0);

    RunResult r = kovalith("render '" + wav + "' '" + tmp("cut-out.wav") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("kovalith: render: the input is truncated: read 10,000 of the 44,100 frames its header promises"),
              std::string::npos) << r.err;
    EXPECT_EQ(readAudio(tmp("cut-out.wav"))->frames, 10000);

    r = kovalith("render '" + flac + "' '" + tmp("cut-out.flac") + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string damaged = "kovalith: render: the input is damaged: read ";
    ASSERT_EQ(r.err.rfind(damaged, 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" of the 44,100 frames, then: "), std::string::npos) << r.err;
    std::string digits = r.err.substr(damaged.size(), r.err.find(' ', damaged.size()) - damaged.size());
    digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
    const long read = std::atol(digits.c_str());
    EXPECT_GT(read, 0);
    EXPECT_EQ(readAudio(tmp("cut-out.flac"))->frames, read);
}

// ---- never losing a file ---------------------------------------------------------------

// The names in `directory` but "." and "..", sorted.
std::vector<std::string> listing(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* d = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(d))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string freshDirectory(const std::string& name) {
    const std::string directory = tmp(name);
    std::system(("rm -rf '" + directory + "'").c_str());
    mkdir(directory.c_str(), 0755);
    return directory;
}

TEST(OutputFiles, TheInputIsNeverOverwrittenByAnyName) {
    const std::string directory = freshDirectory("same");
    const std::string in = directory + "/in.wav";
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100, 0.2)));
    const std::string original = fileText(in);
    ASSERT_EQ(link(in.c_str(), (directory + "/hard.wav").c_str()), 0);
    ASSERT_EQ(symlink("in.wav", (directory + "/soft.wav").c_str()), 0);
    const std::string viaParent = "../" + directory.substr(directory.rfind('/') + 1) + "/in.wav";
    for (const std::string& out : {std::string("hard.wav"), std::string("soft.wav"), std::string("./in.wav"), viaParent}) {
        const RunResult r = kovalith("render in.wav '" + out + "'", directory);
        EXPECT_EQ(r.exitCode, 2) << out;
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << out << ": " << r.err;
        EXPECT_TRUE(fileText(in) == original) << out << " changed the input";
    }
}

// Runs `kovalith ARGS` (its output files in DIRECTORY, the placeholder in
// ARGS) with a file "previous" in the way of its output NAME, on a disk that is
// full after 16 KiB: by RLIMIT_FSIZE, or by a tmpfs of that size in a mount
// namespace of its own. Answers the exit code, the messages, and the folder as
// it is afterwards (its names, then the previous file's text).
struct FullDiskRun {
    bool ran = false;
    int exitCode = -1;
    std::string err, after;
};

FullDiskRun runOnFullDisk(bool tmpfs, const std::string& args, const std::string& name) {
    const std::string directory = freshDirectory(tmpfs ? "tmpfs" : "rlimit");
    const std::string script = tmp("full.sh"), report = tmp("full.out"), errors = tmp("full.err");
    std::string text = tmpfs ? "mount -t tmpfs -o size=16k kovalith-test '" + directory + "' || exit 77\n"
                             : "ulimit -f 32; trap '' XFSZ\n";
    text += "printf previous > '" + directory + "/" + name + "'\n";
    std::string command = args;
    command.replace(command.find("DIRECTORY"), 9, directory);
    text += "'" KOVALITH_HOST_EXE "' " + command + " 2>'" + errors + "'\necho \"exit $?\"\n";
    text += "ls -A '" + directory + "'\ncat '" + directory + "/" + name + "'\n";
    std::ofstream(script) << text;
    const int status = std::system(((tmpfs ? "unshare -rm sh '" : "sh '") + script + "' >'" + report + "' 2>&1").c_str());
    FullDiskRun run;
    const std::string out = fileText(report);
    run.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::sscanf(out.c_str(), "exit %d", &run.exitCode) == 1;
    if (!run.ran) run.err = out;
    else {
        run.err = fileText(errors);
        run.after = out.substr(out.find('\n') + 1);
    }
    return run;
}

TEST(OutputFiles, AFullDiskLeavesThePreviousFileAndSaysWhy) {
    const std::string in = tmp("full-in.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100, 0.5)));
    for (const bool tmpfs : {false, true}) {
        for (const std::string name : {"o.wav", "o.flac", "o.fxb"}) {
            const std::string args = name == "o.fxb" ? "export-fxb DIRECTORY/" + name
                                                     : "render '" + in + "' DIRECTORY/" + name;
            const FullDiskRun r = runOnFullDisk(tmpfs, args, name);
            if (tmpfs && !r.ran) {
                std::cout << "no tmpfs in a namespace of our own here, RLIMIT_FSIZE only: " << r.err << "\n";
                break;
            }
            ASSERT_TRUE(r.ran) << r.err;
            EXPECT_EQ(r.exitCode, 1) << name;
            const std::string reason = tmpfs ? "no space left on device" : "file too large";
            EXPECT_NE(r.err.find("cannot write '"), std::string::npos) << name << ": " << r.err;
            EXPECT_NE(r.err.find("/" + name + "': " + reason + "\n"), std::string::npos) << name << ": " << r.err;
            EXPECT_EQ(r.after, name + "\nprevious") << name << (tmpfs ? " on a tmpfs" : " under RLIMIT_FSIZE");
        }
    }
}

// A long tail keeps the render going while the signal arrives.
TEST(OutputFiles, AnInterruptedRenderLeavesThePreviousFile) {
    const std::string directory = freshDirectory("interrupted");
    const std::string in = tmp("interrupted-in.wav"), out = directory + "/o.wav", errors = tmp("interrupted.err");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100, 0.5)));
    for (const int signal : {SIGINT, SIGTERM}) {
        std::ofstream(out) << "previous";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            execl(KOVALITH_HOST_EXE, "kovalith", "render", in.c_str(), out.c_str(), "--tail", "3600", nullptr);
            _exit(127);
        }
        // Wait until the output is being written.
        bool writing = false;
        for (int i = 0; i < 2000 && !writing; ++i) {
            for (const std::string& name : listing(directory)) {
                struct stat status {};
                if (name != "o.wav" && stat((directory + "/" + name).c_str(), &status) == 0 && status.st_size > 100000)
                    writing = true;
            }
            if (!writing) usleep(5000);
        }
        EXPECT_TRUE(writing) << "no temporary file grew in " << directory;
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ends by the signal " << signal;
        EXPECT_EQ(listing(directory), std::vector<std::string>{"o.wav"});
        EXPECT_TRUE(fileText(out) == "previous") << "the previous file is replaced";
        EXPECT_NE(fileText(errors).find("interrupted"), std::string::npos) << fileText(errors);
    }
}

TEST(RenderCommand, UsageErrors) {
    const std::string good = tmp("usage.wav");
    ASSERT_TRUE(writeAudio(good, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, material(1, 44100, 0.1)));
    const std::string io = " '" + good + "' '" + tmp("usage-out.wav") + "'";
    for (const std::string& args : {std::string("render"), "render '" + good + "'", std::string("render a b c"),
                                   "render" + io + " --block 0", "render" + io + " --block 70000",
                                   "render" + io + " --tempo -5", "render" + io + " --tempo abc",
                                   "render" + io + " --tail -1", "render" + io + " --set Feedback",
                                   "render" + io + " --set Feedback=lots", "render" + io + " --set NoSuchName=1",
                                   "render" + io + " --set 67=1", "render" + io + " --preset 32",
                                   "render" + io + " --preset 'No Such Program'", "render" + io + " --frobnicate 1",
                                   "render" + io + " --tail"}) {
        const RunResult r = kovalith(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("usage: kovalith [options] render IN OUT"), std::string::npos) << args << "\n" << r.err;
    }
}

// Every --set that cannot be applied as written is refused, saying why.
TEST(RenderCommand, RefusesSettingsItCannotApplyAndSaysWhy) {
    const std::string in = tmp("sets.wav"), out = tmp("sets-out.wav");
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, material(2, 44100, 0.05)));
    const struct {
        const char* setting;
        const char* message;
    } refused[] = {
        {"'A Res=0.5'", "'A Res' names parameters 5 and 8; set one by its number, e.g. --set 5=VALUE"},
        {"'a res=0.5'", "'a res' names parameters 5 and 8"},
        {"NoSuchName=1", "no parameter 'NoSuchName'"},
        {"67=1", "no parameter 67 (they are numbered 0 to 66)"},
        {"Feedback=lots", "bad value 'lots' for Feedback"},
        {"Feedback=1.5", "'Feedback' takes a value from 0 to 1"},
        {"Mix=-0.1", "'Mix' takes a value from 0 to 1"},
        {"'Delay Sync=15'", "'Delay Sync' is a menu of items 0 to 14: 0 = off, 1 = 4/1, "},
        {"'LFO 1 Shape=8'", "'LFO 1 Shape' is a menu of items 0 to 7: 0 = sine, "},
        {"'Filter Type=0.8'", "'Filter Type' is a menu of items 0 to 0.7 in steps of 0.1: 0 = Lowpass, 0.1 = "},
        {"'Compressor Types=-1'", "'Compressor Types' is a menu of items 0 to 4"},
        {"'Delay=1.5 s'", "'Delay' takes 0.00 to 1.00"},
        {"'LFO 1 Shape=triangle'", "bad value 'triangle' for LFO 1 Shape: 'LFO 1 Shape' is a menu of items 0 to 7"},
    };
    for (const auto& r : refused) {
        const RunResult run = kovalith("render '" + in + "' '" + out + "' --set " + r.setting);
        EXPECT_EQ(run.exitCode, 2) << r.setting;
        EXPECT_NE(run.err.find(r.message), std::string::npos) << r.setting << ": " << run.err;
    }
    for (const char* accepted : {"8=0.5", "5=0.5", "'LFO 1 Shape=7'", "'Delay Stereo Multiplier=0.48'", "Mix=1"})
        EXPECT_EQ(kovalith("render '" + in + "' '" + out + "' --set " + accepted).exitCode, 0) << accepted;
}

TEST(RenderCommand, SummaryLine) {
    const std::string in = tmp("summary.wav"), out = tmp("summary-out.wav");
    std::vector<float> half(2 * 44100, 0.5f);
    for (size_t n = 1; n < half.size(); n += 2) half[n] = -0.25f;
    ASSERT_TRUE(writeAudio(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, half));
    const RunResult r = kovalith("render '" + in + "' '" + out + "' --set Mix=0");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Peak 0.5 (-6.0 dBFS); RMS sqrt((0.25 + 0.0625) / 2) = 0.3953 (-8.1 dBFS).
    EXPECT_NE(r.out.find(out + ": 1.00 s, peak 0.5000 (-6.0 dBFS), RMS 0.3953 (-8.1 dBFS), "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("x real time\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

}  // namespace
}  // namespace host
}  // namespace kovalith
