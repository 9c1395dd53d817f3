// render / demo: run audio through the plug-in offline, the way a host plays
// a file through an insert effect.
//
// `render IN OUT` streams any file libsndfile reads through the plug-in block
// by block and writes the result; `demo` does the same with a test signal made
// here (drum hits, a chord and a voice-like pulse train) through the first
// factory program. Both print a one-line summary of the output.
#include "host/Commands.h"
#include "host/OutputFile.h"
#include "host/ParameterOptions.h"
#include "host/PresetFiles.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace kovalith {
namespace host {

namespace {

constexpr int kMaxBlock = 1 << 16;
constexpr double kMaxTailSeconds = 3600.0;
constexpr double kMaxTempo = 10000.0;
constexpr const char* kDemoProgram = "Rubber Boots";
constexpr const char* kDemoDefaultOutput = "kovalith-demo.wav";
constexpr double kDemoTailSeconds = 2.0;

// ---- options ------------------------------------------------------------------

struct RenderOptions {
    std::vector<std::string> positional;
    int block = 0;  // 0: the common --block-size
    ParameterOptions parameters;  // --preset and --set
    std::optional<double> tempo;
    std::optional<double> tail;
    std::string loadFile;
};

// Parses the command's arguments; answers an error message, empty when all is well.
std::string parseRenderOptions(std::vector<std::string> args, RenderOptions& options) {
    std::string error;
    if (!extractParameterOptions(args, options.parameters, &error)) return error;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            options.positional.push_back(arg);
            continue;
        }
        std::string value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        } else {
            if (i + 1 >= args.size()) return arg + " needs a value";
            value = args[++i];
        }
        if (arg == "--block") {
            const std::optional<double> n = parseNumber(value);
            if (!n || *n < 1 || *n > kMaxBlock || std::floor(*n) != *n) return "bad block size '" + value + "'";
            options.block = static_cast<int>(*n);
        } else if (arg == "--tempo") {
            const std::optional<double> bpm = parseNumber(value);
            if (!bpm || *bpm <= 0.0 || *bpm > kMaxTempo) return "bad tempo '" + value + "'";
            options.tempo = *bpm;
        } else if (arg == "--tail") {
            const std::optional<double> seconds = parseNumber(value);
            if (!seconds || *seconds < 0.0 || *seconds > kMaxTailSeconds) return "bad tail '" + value + "'";
            options.tail = *seconds;
        } else if (arg == "--load") {
            if (value.empty()) return "--load needs a file";
            options.loadFile = value;
        } else {
            return "unknown option '" + arg + "'";
        }
    }
    return {};
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// ---- audio files ------------------------------------------------------------------

// The containers an output's extension names, with the encoding each gets:
// float where the container holds it, 24 bits for FLAC, the codec of the
// lossy ones.
struct Container {
    const char* extension;
    int format;
};
constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},   {"w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT}, {"caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    {"aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT}, {"aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
    {"aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT}, {"au", SF_FORMAT_AU | SF_FORMAT_FLOAT},
    {"snd", SF_FORMAT_AU | SF_FORMAT_FLOAT},    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},  {"oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},   {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
};

// The extension of a file name, lower case; empty when it has none.
std::string extensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size() ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return {};
    return lowerCase(path.substr(dot + 1));
}

// The format an output is written in: the one its extension names, else (no
// extension) the given one. 0, with the reason in `error`, for an extension
// no container here has: the file is never written in another format than
// its name says.
int outputFormat(const std::string& outPath, int withoutExtension, std::string* error) {
    const std::string extension = extensionOf(outPath);
    if (extension.empty()) return withoutExtension;
    std::string known;
    for (const Container& c : kContainers) {
        if (extension == c.extension) return c.format;
        known += std::string(known.empty() ? "" : ", ") + "." + c.extension;
    }
    *error = "cannot write '." + extension + "' files; the output's name ends in one of " + known +
             ", or has no extension to take the input's format";
    return 0;
}

// The format of the input's container, as the output's extension would name it.
int formatLike(int inputFormat) {
    for (const Container& c : kContainers)
        if ((c.format & SF_FORMAT_TYPEMASK) == (inputFormat & SF_FORMAT_TYPEMASK)) return c.format;
    return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
}

// libsndfile writes outputs through these, into an OutputFile, so that the
// system's own reason for a refused write (a full disk) is kept.
OutputFile& outputOf(void* user) { return *static_cast<OutputFile*>(user); }
sf_count_t outputLength(void* user) {
    struct stat status {};
    return fstat(outputOf(user).fd(), &status) == 0 ? static_cast<sf_count_t>(status.st_size) : -1;
}
sf_count_t outputSeek(sf_count_t offset, int whence, void* user) {
    return static_cast<sf_count_t>(lseek(outputOf(user).fd(), static_cast<off_t>(offset), whence));
}
sf_count_t outputRead(void* data, sf_count_t count, void* user) {
    return static_cast<sf_count_t>(::read(outputOf(user).fd(), data, static_cast<size_t>(count)));
}
sf_count_t outputWrite(const void* data, sf_count_t count, void* user) {
    return outputOf(user).write(data, static_cast<size_t>(count)) ? count : 0;
}
sf_count_t outputTell(void* user) { return static_cast<sf_count_t>(lseek(outputOf(user).fd(), 0, SEEK_CUR)); }
SF_VIRTUAL_IO outputCallbacks = {outputLength, outputSeek, outputRead, outputWrite, outputTell};

// libsndfile's "Error : flac decoder lost sync." as "flac decoder lost sync",
// to follow a colon in our own messages.
std::string libraryMessage(const char* text) {
    std::string message = text ? text : "";
    for (const char* prefix : {"System error : ", "Error : "})
        if (message.rfind(prefix, 0) == 0) message.erase(0, std::strlen(prefix));
    while (!message.empty() && (message.back() == '.' || message.back() == '\n')) message.pop_back();
    if (message.size() > 1 && std::islower(static_cast<unsigned char>(message[1])))
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return message;
}

// Why `path` could not be opened as audio, in the user's terms rather than
// the library's ("Format not recognised" for a folder).
std::string unreadableReason(const std::string& path) {
    const std::string library = libraryMessage(sf_strerror(nullptr));
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return systemMessage(errno);
    if (S_ISDIR(status.st_mode)) return "it is a folder, not an audio file";
    if (access(path.c_str(), R_OK) != 0) return systemMessage(errno);
    if (library.find("SF_INFO struct incomplete") != std::string::npos)
        return "its header gives a sample rate or channel count of 0";
    if (library.find("Format not recognised") != std::string::npos)
        return "not an audio file in a format libsndfile reads";
    return library;
}

class SoundFile {
public:
    SoundFile() = default;
    ~SoundFile() { close(); }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    bool openRead(const std::string& path, std::string* error) {
        info_ = SF_INFO{};
        file_ = sf_open(path.c_str(), SFM_READ, &info_);
        if (!file_) {
            *error = "cannot read '" + path + "': " + unreadableReason(path);
            return false;
        }
        if (info_.channels < 1 || info_.samplerate < 1) {
            *error = "cannot read '" + path + "': its header gives a sample rate or channel count of 0";
            return false;
        }
        return true;
    }

    // Writes through `output`, whose temporary file becomes the target only
    // when the whole render is written.
    bool openWrite(OutputFile& output, int format, int sampleRate, std::string* error) {
        info_ = SF_INFO{};
        info_.format = format;
        info_.channels = 2;
        info_.samplerate = sampleRate;
        const std::string cannot = "cannot write '" + output.target() + "': ";
        if (!sf_format_check(&info_)) {
            *error = cannot + "that format cannot be written at " + std::to_string(sampleRate) + " Hz";
            return false;
        }
        file_ = sf_open_virtual(&outputCallbacks, SFM_WRITE, &info_, &output);
        if (!file_) {
            *error = cannot + (output.failure() ? systemMessage(output.failure()) : libraryMessage(sf_strerror(nullptr)));
            return false;
        }
        // Integer encodings would wrap samples beyond full scale; clip them instead.
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        return true;
    }

    bool close() {
        const bool ok = !file_ || sf_close(file_) == 0;
        file_ = nullptr;
        return ok;
    }

    SNDFILE* get() const { return file_; }
    const SF_INFO& info() const { return info_; }
    std::string lastError() const { return libraryMessage(sf_strerror(file_)); }

private:
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
};

// Why a write failed: the system's reason when it refused, else libsndfile's.
std::string writeFailure(const SoundFile& out, const OutputFile& target) {
    return target.failure() ? systemMessage(target.failure()) : out.lastError();
}

// 1234567 as "1,234,567".
std::string withThousands(long count) {
    std::string digits = std::to_string(count < 0 ? -count : count), text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return count < 0 ? "-" + text : text;
}

int bytesPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_ULAW: case SF_FORMAT_ALAW: return 1;
        case SF_FORMAT_PCM_16: return 2;
        case SF_FORMAT_PCM_24: return 3;
        case SF_FORMAT_PCM_32: case SF_FORMAT_FLOAT: return 4;
        case SF_FORMAT_DOUBLE: return 8;
        default: return 0;
    }
}

// The frames the file's header promises; -1 when unknown. libsndfile opens a
// WAV, AIFF or AU file that was cut short with only the frames present and
// notes the header's own figure in its log ("data : 352800 (should be
// 79956)"); that figure is the promise.
long promisedFrames(const SoundFile& file, bool& cutShort) {
    const SF_INFO& info = file.info();
    const long frameBytes = static_cast<long>(bytesPerSample(info.format)) * info.channels;
    char log[8192] = {};
    sf_command(file.get(), SFC_GET_LOG_INFO, log, sizeof log);
    std::istringstream lines(log);
    std::string line;
    cutShort = false;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || line.find("(should be") == std::string::npos) continue;
        cutShort = true;
        if (frameBytes == 0) continue;
        const size_t start = line.find_first_not_of(' ');
        const std::string chunk = line.substr(start, line.find_last_not_of(' ', colon - 1) + 1 - start);
        // AIFF's sound chunk starts with an offset and a block size.
        const long header = chunk == "SSND" ? 8 : 0;
        if (chunk != "data" && chunk != "SSND" && chunk != "Data Size") continue;
        const long bytes = std::strtol(line.c_str() + colon + 1, nullptr, 10) - header;
        if (bytes / frameBytes > info.frames) return bytes / frameBytes;
    }
    return info.frames > 0 && info.frames < LONG_MAX ? static_cast<long>(info.frames) : -1;
}

// ---- sources ----------------------------------------------------------------------

// Where the input comes from: fills up to `frames` samples per channel and
// answers how many it gave (0 at the end, also when the rest cannot be read).
class Source {
public:
    virtual ~Source() = default;
    virtual long read(float* left, float* right, int frames) = 0;
    virtual long totalFrames() const = 0;  // -1 when not known
    virtual int sampleRate() const = 0;
    // What the user should know about the input once it was read.
    virtual std::vector<std::string> warnings() const { return {}; }
};

class FileSource : public Source {
public:
    FileSource(SoundFile& file, int maxFrames)
        : file_(file),
          interleaved_(static_cast<size_t>(maxFrames) * static_cast<size_t>(file.info().channels)),
          promised_(promisedFrames(file, cutShort_)) {}

    // A file that cannot be read to its end is rendered as far as it reads.
    long read(float* left, float* right, int frames) override {
        if (!readError_.empty()) return 0;
        const int channels = file_.info().channels;
        const sf_count_t got = std::max<sf_count_t>(0, sf_readf_float(file_.get(), interleaved_.data(), frames));
        if (sf_error(file_.get()) != SF_ERR_NO_ERROR) readError_ = file_.lastError();
        for (sf_count_t n = 0; n < got; ++n) {
            const float* frame = interleaved_.data() + n * channels;
            // Mono feeds both inputs; beyond two channels only the first two are used.
            left[n] = finiteOrSilence(frame[0]);
            right[n] = channels > 1 ? finiteOrSilence(frame[1]) : left[n];
        }
        framesRead_ += static_cast<long>(got);
        return static_cast<long>(got);
    }
    long totalFrames() const override { return promised_; }
    int sampleRate() const override { return file_.info().samplerate; }

    std::vector<std::string> warnings() const override {
        std::vector<std::string> said;
        const std::string read = "read " + withThousands(framesRead_);
        const std::string promised = promised_ >= 0 ? " of the " + withThousands(promised_) + " frames" : " frames";
        if (!readError_.empty())
            said.push_back("the input is damaged: " + read + promised + ", then: " + readError_);
        else if (promised_ >= 0 && framesRead_ < promised_)
            said.push_back("the input is truncated: " + read + promised + " its header promises");
        else if (cutShort_)
            said.push_back("the input is truncated: " + read + "; its header describes a longer file");
        if (nonFinite_ > 0)
            said.push_back("the input holds " + withThousands(nonFinite_) +
                           " samples that are not finite (NaN or infinite); they were rendered as 0");
        return said;
    }

private:
    float finiteOrSilence(float x) {
        if (std::isfinite(x)) return x;
        ++nonFinite_;
        return 0.0f;
    }

    SoundFile& file_;
    std::vector<float> interleaved_;
    bool cutShort_ = false;  // the header describes more than the file holds; set with promised_
    long promised_;
    long framesRead_ = 0;
    long nonFinite_ = 0;
    std::string readError_;
};

// The demo's test signal, made here: a few bars of a drum-like pattern, a
// sustained chord and a vowel-like pulse train, then all three together.
class DemoSource : public Source {
public:
    explicit DemoSource(int sampleRate) : rate_(sampleRate), total_(static_cast<long>(8.0 * sampleRate)) {}

    long read(float* left, float* right, int frames) override {
        const long count = std::min<long>(frames, total_ - position_);
        for (long n = 0; n < count; ++n, ++position_) {
            const double t = static_cast<double>(position_) / rate_;
            const double drums = (t < 2.0 || t >= 6.0) ? drum(t) : 0.0;
            const double chord = (t >= 2.0) ? chordAt(t) * envelope(t, 2.0, 8.0) : 0.0;
            const double voice = (t >= 4.0) ? voiceAt(t) * envelope(t, 4.0, 8.0) : 0.0;
            const double mono = 0.5 * drums + 0.25 * chord + 0.35 * voice;
            left[n] = static_cast<float>(mono + 0.05 * chord);
            right[n] = static_cast<float>(mono - 0.05 * chord);
        }
        return count;
    }
    long totalFrames() const override { return total_; }
    int sampleRate() const override { return rate_; }

private:
    static constexpr double kTwoPi = 6.283185307179586;

    // Fade in and out over 20 ms so sections start and stop without clicks.
    static double envelope(double t, double from, double to) {
        const double fade = 0.02;
        return std::clamp(std::min(t - from, to - t) / fade, 0.0, 1.0);
    }

    // Eighth notes at 120 bpm: a pitched-down kick on the beats, a noise snare
    // on two and four, a short hat on every eighth.
    double drum(double t) {
        const double eighth = 0.25;
        const int step = static_cast<int>(t / eighth);
        const double since = t - step * eighth;
        double out = 0.0;
        if (step % 2 == 0) {
            const double phase = kTwoPi * (50.0 * since + (150.0 - 50.0) / 30.0 * (1.0 - std::exp(-30.0 * since)));
            out += std::sin(phase) * std::exp(-12.0 * since);
        }
        if (step % 4 == 2) out += 0.7 * noise() * std::exp(-25.0 * since);
        out += 0.15 * noise() * std::exp(-120.0 * since);
        return out;
    }

    // A minor seventh chord of slightly detuned saw-like partials.
    double chordAt(double t) const {
        const double roots[4] = {220.0, 261.63, 329.63, 392.0};
        double out = 0.0;
        for (const double f : roots)
            for (int k = 1; k <= 6; ++k) out += std::sin(kTwoPi * f * 1.002 * k * t) / k;
        return out / 6.0;
    }

    // A glottal-like pulse train at a gently gliding pitch through two formant
    // resonators ("ah").
    double voiceAt(double t) {
        const double pitch = 120.0 + 15.0 * std::sin(kTwoPi * 0.7 * t);
        pulsePhase_ += pitch / rate_;
        double excitation = 0.0;
        if (pulsePhase_ >= 1.0) {
            pulsePhase_ -= 1.0;
            excitation = 1.0;
        }
        return 0.3 * (formant(0, excitation, 700.0, 110.0) + 0.6 * formant(1, excitation, 1220.0, 120.0));
    }

    double formant(int k, double x, double frequency, double bandwidth) {
        const double r = std::exp(-0.5 * kTwoPi * bandwidth / rate_);
        const double a1 = 2.0 * r * std::cos(kTwoPi * frequency / rate_), a2 = -r * r;
        const double y = (1.0 - r) * x + a1 * y1_[k] + a2 * y2_[k];
        y2_[k] = y1_[k];
        y1_[k] = y;
        return 10.0 * y;
    }

    // A fixed linear congruential generator: the demo is the same every time.
    double noise() {
        seed_ = seed_ * 1664525u + 1013904223u;
        return static_cast<double>(seed_ >> 8) / 8388608.0 - 1.0;
    }

    int rate_;
    long total_;
    long position_ = 0;
    double pulsePhase_ = 0.0;
    double y1_[2] = {0.0, 0.0}, y2_[2] = {0.0, 0.0};
    uint32_t seed_ = 12345u;
};

// ---- rendering -----------------------------------------------------------------------

class ProgressBar {
public:
    ProgressBar() : enabled_(isatty(STDERR_FILENO) == 1) {}

    void update(long done, long total) {
        if (!enabled_ || total <= 0) return;
        const int percent = static_cast<int>(std::min<long>(100, done * 100 / total));
        if (percent == shown_) return;
        shown_ = percent;
        const int width = 40, filled = percent * width / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(width - filled), ' ').c_str(), percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", 48, "");
    }

private:
    bool enabled_;
    int shown_ = -1;
};

struct RenderSummary {
    long frames = 0;
    double sampleRate = 0.0;
    double peak = 0.0;
    double sumSquares = 0.0;
    double processSeconds = 0.0;
    long beyondFullScale = 0;  // samples above 1 in magnitude

    void add(float y) {
        const double magnitude = std::fabs(static_cast<double>(y));
        peak = std::max(peak, magnitude);
        sumSquares += magnitude * magnitude;
        if (magnitude > 1.0) ++beyondFullScale;
    }
};

// Below half the smallest step of 24-bit audio, nothing is left to hear or to store.
constexpr double kSilence = 1.0 / 16777216.0;

std::string decibels(double amplitude) {
    if (!(amplitude > 0.0)) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(amplitude));
    return text;
}

std::string summaryLine(const RenderSummary& s, const std::string& outPath) {
    const double seconds = s.frames / s.sampleRate;
    const double rms = s.frames > 0 ? std::sqrt(s.sumSquares / (2.0 * static_cast<double>(s.frames))) : 0.0;
    char text[128];
    std::snprintf(text, sizeof text, "%.2f s, ", seconds);
    std::string line = outPath + ": " + text;
    if (s.peak < kSilence) {
        line += "silent, ";
    } else {
        std::snprintf(text, sizeof text, "peak %.4f (%s), RMS %.4f (%s), ", s.peak, decibels(s.peak).c_str(), rms,
                      decibels(rms).c_str());
        line += text;
    }
    if (s.processSeconds > 0.0) {
        std::snprintf(text, sizeof text, "%.1fx real time", seconds / s.processSeconds);
        line += text;
    } else {
        line += "real time factor not measurable";
    }
    return line;
}

// Whether the output's encoding stores samples as integers, which libsndfile
// clips at full scale; floats and the lossy codecs keep what lies beyond.
bool clipsAtFullScale(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT: case SF_FORMAT_DOUBLE: case SF_FORMAT_VORBIS: case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I: case SF_FORMAT_MPEG_LAYER_II: case SF_FORMAT_MPEG_LAYER_III:
            return false;
        default:
            return true;
    }
}

// What became of samples beyond full scale, or nothing when there were none.
std::string fullScaleWarning(const RenderSummary& s, int format) {
    if (s.beyondFullScale == 0) return {};
    char peak[32];
    std::snprintf(peak, sizeof peak, "peak %+.1f dBFS", 20.0 * std::log10(s.peak));
    if (clipsAtFullScale(format))
        return withThousands(s.beyondFullScale) + (s.beyondFullScale == 1 ? " sample" : " samples") +
               " clipped; " + peak;
    return std::string(peak) + ", above full scale (kept in this format; it clips when converted to integers)";
}

// Applies the command's plug-in options in the order a user expects: a preset
// file, then a program, then single parameters.
int preparePlugin(CommandContext& context, const RenderOptions& options, int block, double sampleRate,
                  const char* defaultProgram) {
    PluginInstance& plugin = context.plugin;
    plugin.suspend();
    plugin.setSampleRate(sampleRate);
    plugin.setBlockSize(block);
    std::string error;
    if (!options.loadFile.empty() && !loadPresetFile(plugin, options.loadFile, &error)) return context.failure(error);
    ParameterOptions parameters = options.parameters;
    if (!parameters.preset && defaultProgram) parameters.preset = defaultProgram;
    if (!applyParameterOptions(plugin, parameters, &error)) return context.usageError(error);
    if (options.tempo) plugin.setTransport(Transport{*options.tempo, 0.0, true, 0.0});
    else plugin.setTransport(std::nullopt);
    plugin.resume();
    return kExitSuccess;
}

// Renders `source` into `out`, which writes into `target`; the target is
// replaced only when everything was written.
int renderThrough(CommandContext& context, Source& source, SoundFile& out, OutputFile& target, int block,
                  double tailSeconds) {
    const std::string& outPath = target.target();
    PluginInstance& plugin = context.plugin;
    std::vector<float> inL(static_cast<size_t>(block)), inR(static_cast<size_t>(block));
    std::vector<float> outL(static_cast<size_t>(block)), outR(static_cast<size_t>(block));
    std::vector<float> interleaved(2 * static_cast<size_t>(block));
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};

    const long tailFrames = static_cast<long>(std::llround(tailSeconds * source.sampleRate()));
    const long sourceFrames = source.totalFrames();
    const long expected = sourceFrames >= 0 ? sourceFrames + tailFrames : -1;
    ProgressBar progress;
    RenderSummary summary;
    summary.sampleRate = source.sampleRate();
    bool sourceDone = false;
    long tailLeft = tailFrames;
    while (true) {
        long frames = 0;
        if (!sourceDone) {
            frames = source.read(inL.data(), inR.data(), block);
            if (frames <= 0) sourceDone = true;
        }
        if (sourceDone) {
            // The tail: silence in, so the delays and filters ring out.
            frames = std::min<long>(block, tailLeft);
            if (frames == 0) break;
            std::fill(inL.begin(), inL.end(), 0.0f);
            std::fill(inR.begin(), inR.end(), 0.0f);
            tailLeft -= frames;
        }
        const auto start = std::chrono::steady_clock::now();
        if (!plugin.process(inputs, outputs, static_cast<int>(frames)))
            return context.failure("the plug-in refused to process");
        summary.processSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        plugin.advance(static_cast<int>(frames));

        for (long n = 0; n < frames; ++n) {
            interleaved[2 * static_cast<size_t>(n)] = outL[static_cast<size_t>(n)];
            interleaved[2 * static_cast<size_t>(n) + 1] = outR[static_cast<size_t>(n)];
            summary.add(outL[static_cast<size_t>(n)]);
            summary.add(outR[static_cast<size_t>(n)]);
        }
        if (sf_writef_float(out.get(), interleaved.data(), frames) != frames)
            return context.failure("cannot write '" + outPath + "': " + writeFailure(out, target));
        summary.frames += frames;
        progress.update(summary.frames, expected);
    }
    progress.finish();
    if (!out.close() && !target.failure()) target.noteFailure(EIO);
    std::string error;
    if (!target.commit(&error)) return context.failure(error);
    context.out << summaryLine(summary, outPath) << "\n";
    for (const std::string& warning : source.warnings()) context.warn(warning);
    const std::string clipping = fullScaleWarning(summary, out.info().format);
    if (!clipping.empty()) context.warn(clipping);
    return kExitSuccess;
}

int runRender(CommandContext& context, const std::vector<std::string>& args) {
    RenderOptions options;
    const std::string problem = parseRenderOptions(args, options);
    if (!problem.empty()) return context.usageError(problem);
    if (options.positional.size() != 2) return context.usageError("render needs an input and an output file");
    const std::string& inPath = options.positional[0];
    const std::string& outPath = options.positional[1];
    std::string error;
    const int probe = outputFormat(outPath, 1, &error);
    if (probe == 0) return context.usageError(error);
    if (sameFile(inPath, outPath))
        return context.usageError("the output '" + outPath + "' is the input '" + inPath +
                                  "'; the input is never overwritten");

    SoundFile in;
    if (!in.openRead(inPath, &error)) return context.failure(error);
    const int block = options.block > 0 ? options.block : context.options.blockSize;
    if (const int code = preparePlugin(context, options, block, in.info().samplerate, nullptr)) return code;

    OutputFile target;
    SoundFile out;
    if (!target.open(outPath, &error) ||
        !out.openWrite(target, outputFormat(outPath, formatLike(in.info().format), &error), in.info().samplerate,
                       &error))
        return context.failure(error);
    FileSource source(in, block);
    return renderThrough(context, source, out, target, block, options.tail.value_or(0.0));
}

int runDemo(CommandContext& context, const std::vector<std::string>& args) {
    RenderOptions options;
    const std::string problem = parseRenderOptions(args, options);
    if (!problem.empty()) return context.usageError(problem);
    if (options.positional.size() > 1) return context.usageError("demo takes at most one output file");
    const std::string outPath = options.positional.empty() ? kDemoDefaultOutput : options.positional[0];
    std::string error;
    const int format = outputFormat(outPath, SF_FORMAT_WAV | SF_FORMAT_FLOAT, &error);
    if (format == 0) return context.usageError(error);

    const int rate = static_cast<int>(std::lround(context.options.sampleRate));
    const int block = options.block > 0 ? options.block : context.options.blockSize;
    // A preset file brings its own current program; otherwise the demo's.
    const bool presetFile = !options.loadFile.empty() || !context.options.loadFile.empty();
    if (const int code = preparePlugin(context, options, block, rate, presetFile ? nullptr : kDemoProgram))
        return code;

    OutputFile target;
    SoundFile out;
    if (!target.open(outPath, &error) || !out.openWrite(target, format, rate, &error)) return context.failure(error);
    DemoSource source(rate);
    const int code = renderThrough(context, source, out, target, block, options.tail.value_or(kDemoTailSeconds));
    if (code == kExitSuccess)
        context.out << "wrote " << outPath << " (the demo signal through \"" << context.plugin.currentProgramName()
                    << "\")\n";
    return code;
}

#define KOVALITH_RENDER_OPTIONS_HELP                                                 \
    "Options:\n"                                                                      \
    "  --block N          block size handed to the plug-in (default 512, or the\n"   \
    "                     common --block-size)\n" KOVALITH_PARAMETER_OPTIONS_HELP     \
    "  --tempo BPM        report a playing transport at that tempo from position\n"  \
    "                     0; without it the host gives no time information\n"       \
    "  --tail SECONDS     go on with silence past the input, so echoes ring out\n"  \
    "  --load FILE        apply a .fxp program or .fxb bank first\n"                \
    "\n"                                                                             \
    "The output's extension names its format: .wav .w64 .rf64 .caf .aiff .au\n"      \
    "(32-bit float), .flac (24-bit), .ogg (Vorbis), .opus (48 kHz and other Opus\n"  \
    "rates), .mp3. Other extensions are refused. The output is written whole or\n"   \
    "not at all; the input is never overwritten. A line at the end gives the\n"      \
    "output's length, peak and RMS; warnings say when samples clipped or the\n"      \
    "input was cut short.\n"

const CommandRegistrar renderCommand(
    {"render", "render IN OUT [OPTIONS]", "process an audio file through the plug-in",
     "Plays any file libsndfile reads through the plug-in, block by block as a\n"
     "host does, at the file's own sample rate, and writes the stereo result. A\n"
     "mono file feeds both inputs; of more channels the first two are used. An\n"
     "output without an extension takes the input's format.\n"
     "\n" KOVALITH_RENDER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith render voice.flac voice-fx.wav --preset Scratchy --tail 3\n"
     "  kovalith render loop.wav loop-fx.flac --tempo 128 --set \"Delay Sync=4\"\n"
     "  kovalith render in.wav out.mp3 --preset 2 --set Mix=0.7\n",
     runRender});
const CommandRegistrar demoCommand(
    {"demo", "demo [OUT] [OPTIONS]", "render a built-in test signal through \"Rubber Boots\"",
     "Renders eight seconds of a signal made here (drum hits, a chord and a\n"
     "vowel-like pulse train) and a two-second tail through the first factory\n"
     "program, \"Rubber Boots\", into OUT (default kovalith-demo.wav, 32-bit\n"
     "float), at the common --sample-rate.\n"
     "\n" KOVALITH_RENDER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith demo\n"
     "  kovalith demo skaro.wav --preset \"Skaro Defence Force\"\n"
     "  kovalith --sample-rate 48000 demo boots.opus\n",
     runDemo});

}  // namespace

}  // namespace host
}  // namespace kovalith
