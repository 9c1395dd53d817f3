// The validator's shared harness: buffers, call log, child runner and reporter.
#include "host/validate/Validate.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>
#include <stdexcept>

namespace kovalith {
namespace host {
namespace validate {

namespace {

// How a child tells its verdict; any other ending is a crash.
constexpr int kChildPass = 0;
constexpr int kChildFail = 90;
constexpr int kChildSkip = 91;

// Only a hung plug-in meets this; the longest check takes well under a minute.
constexpr int kCheckTimeoutSeconds = 300;
constexpr size_t kMaxReportedFailures = 4;

thread_local Caller t_caller = Caller::Main;

size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

// Ends a check early: skipped, or failed already.
struct CheckEnded {
    bool skipped;
    std::string reason;
};

const char* opcodeName(int32_t opcode) {
    switch (opcode) {
    case vst2::effOpen: return "effOpen";
    case vst2::effClose: return "effClose";
    case vst2::effSetProgram: return "effSetProgram";
    case vst2::effGetProgram: return "effGetProgram";
    case vst2::effSetProgramName: return "effSetProgramName";
    case vst2::effGetProgramName: return "effGetProgramName";
    case vst2::effGetParamLabel: return "effGetParamLabel";
    case vst2::effGetParamDisplay: return "effGetParamDisplay";
    case vst2::effGetParamName: return "effGetParamName";
    case vst2::effSetSampleRate: return "effSetSampleRate";
    case vst2::effSetBlockSize: return "effSetBlockSize";
    case vst2::effMainsChanged: return "effMainsChanged";
    case vst2::effEditGetRect: return "effEditGetRect";
    case vst2::effEditOpen: return "effEditOpen";
    case vst2::effEditClose: return "effEditClose";
    case vst2::effEditIdle: return "effEditIdle";
    case vst2::effGetChunk: return "effGetChunk";
    case vst2::effSetChunk: return "effSetChunk";
    case vst2::effProcessEvents: return "effProcessEvents";
    case vst2::effCanBeAutomated: return "effCanBeAutomated";
    case vst2::effString2Parameter: return "effString2Parameter";
    case vst2::effGetProgramNameIndexed: return "effGetProgramNameIndexed";
    case vst2::effGetInputProperties: return "effGetInputProperties";
    case vst2::effGetOutputProperties: return "effGetOutputProperties";
    case vst2::effSetSpeakerArrangement: return "effSetSpeakerArrangement";
    case vst2::effGetEffectName: return "effGetEffectName";
    case vst2::effVendorSpecific: return "effVendorSpecific";
    case vst2::effCanDo: return "effCanDo";
    case vst2::effGetTailSize: return "effGetTailSize";
    case vst2::effGetParameterProperties: return "effGetParameterProperties";
    case vst2::effEditKeyDown: return "effEditKeyDown";
    case vst2::effEditKeyUp: return "effEditKeyUp";
    case vst2::effGetSpeakerArrangement: return "effGetSpeakerArrangement";
    case vst2::effSetProcessPrecision: return "effSetProcessPrecision";
    default: return nullptr;
    }
}

const char* pointerName(PointerKind kind) {
    switch (kind) {
    case PointerKind::None: return "unused";
    case PointerKind::Null: return "null";
    case PointerKind::Zeroed: return "zeroed 64 KiB";
    case PointerKind::Text: return "text buffer";
    case PointerKind::Rect: return "ERect* out";
    case PointerKind::Chunk: return "chunk bytes";
    case PointerKind::Events: return "VstEvents";
    case PointerKind::Window: return "X11 window";
    case PointerKind::Speaker: return "speaker arrangement";
    }
    return "?";
}

std::string describeCall(const CallRecord& r) {
    char text[320];
    switch (r.kind) {
    case CallKind::None: return "no call yet (the harness itself)";
    case CallKind::Load: std::snprintf(text, sizeof text, "loading (entry point, effOpen)"); break;
    case CallKind::Close: std::snprintf(text, sizeof text, "closing (effClose, unload)"); break;
    case CallKind::Process:
        std::snprintf(text, sizeof text, "processReplacing(%d frames)", r.frames);
        break;
    case CallKind::SetParameter:
        std::snprintf(text, sizeof text, "setParameter(index %d, value %s)", r.index, describeFloat(r.opt).c_str());
        break;
    case CallKind::GetParameter: std::snprintf(text, sizeof text, "getParameter(index %d)", r.index); break;
    case CallKind::Dispatch: {
        const char* name = opcodeName(r.opcode);
        std::snprintf(text, sizeof text, "dispatcher(%s%sopcode %d, index %d, value %lld, ptr %s, opt %s)",
                      name ? name : "", name ? " = " : "", r.opcode, r.index, static_cast<long long>(r.value),
                      pointerName(r.pointer), describeFloat(r.opt).c_str());
        break;
    }
    }
    std::string call = text;
    std::snprintf(text, sizeof text, " [block size %d, rate %s Hz]", r.blockSize, describeFloat(r.sampleRate).c_str());
    call += text;
    if (r.note[0]) call += std::string(" during ") + r.note;
    return call;
}

std::string describeEnding(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        return "crashed (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
    }
    return "died (exit code " + std::to_string(WEXITSTATUS(status)) + ", see stderr)";
}

uint64_t hashName(const std::string& name) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// A valid, playing transport: what checks get unless they test time info.
const vst2::VstTimeInfo& plainTimeInfo() {
    static const vst2::VstTimeInfo info = [] {
        vst2::VstTimeInfo t{};
        t.sampleRate = 44100.0;
        t.tempo = 120.0;
        t.timeSigNumerator = 4;
        t.timeSigDenominator = 4;
        t.flags = vst2::kVstTransportPlaying | vst2::kVstPpqPosValid | vst2::kVstTempoValid |
                  vst2::kVstBarsValid | vst2::kVstTimeSigValid;
        return t;
    }();
    return info;
}

}  // namespace

// ---- Rng ----

uint64_t Rng::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int Rng::range(int lo, int hi) {
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
    return static_cast<int>(lo + static_cast<int64_t>(next() % span));
}

double Rng::unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

std::string describeFloat(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

float randomParameterValue(Rng& rng) {
    // The ends matter most: menus and switches live there.
    if (rng.chance(0.1)) return 0.0f;
    if (rng.chance(0.1)) return 1.0f;
    return static_cast<float>(rng.unit());
}

double residentBytes() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0.0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(pageSize());
}

bool residentGrowthFlat(double growth, int cycles) {
#ifdef KOVALITH_VALIDATE_SANITIZED
    (void)growth;
    (void)cycles;
    return true;
#else
    constexpr double kPerCycle = 4096.0, kNoise = 256.0 * 1024.0;
    return growth <= kNoise || growth <= kPerCycle * std::max(cycles, 1);
#endif
}

// ---- GuardedBuffer ----

GuardedBuffer::GuardedBuffer(size_t capacity) : capacity_(capacity) {
    const size_t page = pageSize();
    const size_t usable = (capacity + page - 1) / page * page;
    mappingSize_ = usable + page;
    void* mapping = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    mapping_ = static_cast<uint8_t*>(mapping);
    guard_ = mapping_ + usable;
    mprotect(guard_, page, PROT_NONE);
}

GuardedBuffer::~GuardedBuffer() { munmap(mapping_, mappingSize_); }

// ---- CallLog ----

CallLog* CallLog::create() {
    void* shared = mmap(nullptr, sizeof(CallLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) throw std::bad_alloc();
    auto* log = static_cast<CallLog*>(shared);
    log->clear();
    return log;
}

void CallLog::clear() { std::memset(static_cast<void*>(records_), 0, sizeof records_); }

CallRecord& CallLog::current() { return records_[static_cast<int>(t_caller)]; }

std::string CallLog::describeCrash() const {
    const CallRecord& main = records_[static_cast<int>(Caller::Main)];
    const CallRecord& audio = records_[static_cast<int>(Caller::Audio)];
    // Both threads are named: the parent cannot tell which one faulted.
    if (audio.kind == CallKind::None) return "in " + describeCall(main);
    return "with the check's thread in " + describeCall(main) + " and the audio thread in " + describeCall(audio);
}

CallLog::Role::Role(Caller caller) : previous_(t_caller) { t_caller = caller; }
CallLog::Role::~Role() { t_caller = previous_; }

// ---- AudioBuffers ----

AudioBuffers::AudioBuffers(int inputs, int outputs, int maxFrames) : maxFrames_(std::max(maxFrames, 0)) {
    const size_t bytes = static_cast<size_t>(maxFrames_) * sizeof(float);
    for (int c = 0; c < std::max(inputs, 0); ++c) inputs_.push_back(std::make_unique<GuardedBuffer>(bytes));
    for (int c = 0; c < std::max(outputs, 0); ++c) outputs_.push_back(std::make_unique<GuardedBuffer>(bytes));
    inputPointers_.resize(inputs_.size() + 1, nullptr);
    outputPointers_.resize(outputs_.size() + 1, nullptr);
}

void AudioBuffers::prepare(int frames, Rng& rng, float outputFill) {
    frames_ = std::clamp(frames, 0, maxFrames_);
    const size_t bytes = static_cast<size_t>(frames_) * sizeof(float);
    for (size_t c = 0; c < inputs_.size(); ++c) {
        auto* samples = reinterpret_cast<float*>(inputs_[c]->tail(bytes));
        for (int i = 0; i < frames_; ++i) samples[i] = static_cast<float>(rng.unit() - 0.5);
        inputPointers_[c] = samples;
    }
    for (size_t c = 0; c < outputs_.size(); ++c) {
        auto* samples = reinterpret_cast<float*>(outputs_[c]->tail(bytes));
        std::fill(samples, samples + frames_, outputFill);
        outputPointers_[c] = samples;
    }
}

bool AudioBuffers::outputsFinite() const {
    for (size_t c = 0; c < outputs_.size(); ++c) {
        const float* samples = outputPointers_[c];
        for (int i = 0; i < frames_; ++i)
            if (!std::isfinite(samples[i])) return false;
    }
    return true;
}

// ---- Subject ----

Subject::Subject(std::unique_ptr<PluginInstance> instance, CallLog& log) : instance_(std::move(instance)), log_(log) {
    setTimeInfo(&plainTimeInfo());
}

std::unique_ptr<Subject> Subject::load(const std::string& path, CallLog& log, std::string* error) {
    CallRecord& record = log.current();
    record.kind = CallKind::Load;
    record.sampleRate = 44100.0f;
    record.blockSize = 512;
    std::unique_ptr<PluginInstance> instance = PluginInstance::load(path, error);
    if (!instance) return nullptr;
    return std::unique_ptr<Subject>(new Subject(std::move(instance), log));
}

Subject::~Subject() {
    announce(CallKind::Close);
    instance_.reset();
}

CallRecord& Subject::announce(CallKind kind, int32_t opcode, int32_t index, int64_t value, float opt,
                              PointerKind pointer, int32_t frames) {
    CallRecord& r = log_.current();
    r.kind = kind;
    r.opcode = opcode;
    r.index = index;
    r.value = value;
    r.opt = opt;
    r.pointer = pointer;
    r.frames = frames;
    r.blockSize = blockSize();
    r.sampleRate = sampleRate();
    return r;
}

void Subject::note(const std::string& text) {
    CallRecord& r = log_.current();
    std::snprintf(r.note, sizeof r.note, "%s", text.c_str());
}

intptr_t Subject::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt, PointerKind pointer) {
    if (pointer == PointerKind::None && ptr == nullptr) pointer = PointerKind::Null;
    announce(CallKind::Dispatch, opcode, index, value, opt, pointer);
    vst2::AEffect* e = effect();
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

void Subject::setSampleRate(float rate) {
    sampleRate_.store(rate, std::memory_order_relaxed);
    dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate);
}

void Subject::setBlockSize(int frames) {
    blockSize_.store(frames, std::memory_order_relaxed);
    dispatch(vst2::effSetBlockSize, 0, frames);
}

void Subject::resume() { dispatch(vst2::effMainsChanged, 0, 1); }
void Subject::suspend() { dispatch(vst2::effMainsChanged, 0, 0); }

bool Subject::process(AudioBuffers& buffers, int frames, Rng& rng) {
    vst2::AEffect* e = effect();
    // The accumulating entry adds to what is there, so it gets silence.
    const bool replacing = e->processReplacing != nullptr;
    buffers.prepare(frames, rng, replacing ? std::numeric_limits<float>::quiet_NaN() : 0.0f);
    announce(CallKind::Process, 0, 0, 0, 0.0f, PointerKind::None, frames);
    if (replacing)
        e->processReplacing(e, buffers.inputs(), buffers.outputs(), frames);
    else if (e->process)
        e->process(e, buffers.inputs(), buffers.outputs(), frames);
    return buffers.outputsFinite();
}

void Subject::setParameter(int32_t index, float value) {
    announce(CallKind::SetParameter, 0, index, 0, value);
    vst2::AEffect* e = effect();
    if (e->setParameter) e->setParameter(e, index, value);
}

float Subject::getParameter(int32_t index) {
    announce(CallKind::GetParameter, 0, index);
    vst2::AEffect* e = effect();
    return e->getParameter ? e->getParameter(e, index) : 0.0f;
}

std::vector<uint8_t> Subject::chunk(bool program) {
    void* data = nullptr;
    const intptr_t size = dispatch(vst2::effGetChunk, program ? 1 : 0, 0, &data, 0.0f, PointerKind::Chunk);
    if (size <= 0 || !data) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t Subject::setChunk(void* data, intptr_t size, bool program, PointerKind pointer) {
    return dispatch(vst2::effSetChunk, program ? 1 : 0, size, data, 0.0f, data ? pointer : PointerKind::Null);
}

// ---- Events ----

EventList::EventList(int capacity)
    // numEvents and reserved, then the pointers (at least the two the struct declares).
    : words_(2 + static_cast<size_t>(std::max(capacity, 2)), 0) {}

vst2::VstMidiEvent midiEvent(uint8_t status, uint8_t data1, uint8_t data2, int32_t deltaFrames) {
    vst2::VstMidiEvent event{};
    event.type = vst2::kVstMidiType;
    event.byteSize = sizeof event;
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    return event;
}

// ---- AudioRunner ----

AudioRunner::AudioRunner(Subject& plugin, uint64_t seed, int maxFrames)
    : plugin_(plugin), maxFrames_(maxFrames), thread_([this, seed] { loop(seed); }) {}

AudioRunner::~AudioRunner() { stop(); }

void AudioRunner::stop() {
    running_.store(false, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void AudioRunner::loop(uint64_t seed) {
    CallLog::Role role(Caller::Audio);
    Rng rng(seed);
    AudioBuffers buffers(plugin_.numInputs(), plugin_.numOutputs(), maxFrames_);
    EventList list(1);
    while (running_.load(std::memory_order_acquire)) {
        const int frames = rng.range(1, maxFrames_);
        if (rng.chance(0.25)) {
            // Controllers, as a learned MIDI binding would receive them.
            vst2::VstMidiEvent cc = midiEvent(static_cast<uint8_t>(0xB0 | rng.range(0, 15)),
                                              static_cast<uint8_t>(rng.range(0, 127)),
                                              static_cast<uint8_t>(rng.range(0, 127)), rng.range(0, frames - 1));
            list.setCount(1);
            list.set(0, &cc);
            plugin_.dispatch(vst2::effProcessEvents, 0, 0, list.events(), 0.0f, PointerKind::Events);
        }
        if (!plugin_.process(buffers, frames, rng)) nonFinite_.fetch_add(1, std::memory_order_acq_rel);
        blocks_.fetch_add(1, std::memory_order_acq_rel);
    }
}

// ---- Check ----

Check::Check(const Settings& settings, CallLog& log, uint64_t seed) : settings_(settings), log_(log), rng_(seed) {}

std::unique_ptr<Subject> Check::loadAnother() {
    std::string error;
    std::unique_ptr<Subject> subject = Subject::load(settings_.pluginPath, log_, &error);
    if (!subject) {
        fail("cannot load: " + error);
        throw CheckEnded{false, {}};
    }
    return subject;
}

Subject& Check::plugin() {
    if (!plugin_) plugin_ = loadAnother();
    return *plugin_;
}

void Check::fail(const std::string& detail) { failures_.push_back(detail); }

void Check::skip(const std::string& reason) { throw CheckEnded{true, reason}; }

int Check::scaled(int atTen, int least) const {
    const long long s = settings_.strictness;
    return std::max(least, static_cast<int>(atTen * s * s / 100));
}

bool Check::processFinite(AudioBuffers& buffers, int frames, int blocks, const std::string& what) {
    for (int b = 0; b < blocks; ++b) {
        if (!plugin().process(buffers, frames, rng_)) {
            fail("output not finite " + what + " (block " + std::to_string(b) + " of " + std::to_string(frames) +
                 " frames)");
            return false;
        }
    }
    return true;
}

// ---- Session ----

namespace {

// Runs the check in this (child) process, writes its verdict's text to `fd`
// and answers the verdict's exit code. The text goes out before the plug-in is
// closed, so a crash in effClose does not hide what the check found.
int runInChild(const Settings& settings, CallLog& log, uint64_t seed, const std::function<void(Check&)>& body,
               int fd) {
    Check check(settings, log, seed);
    std::string text;
    int code = kChildFail;
    try {
        body(check);
    } catch (const CheckEnded& ended) {
        if (ended.skipped) {
            text = ended.reason;
            code = kChildSkip;
        }
    } catch (const std::exception& e) {
        check.fail(std::string("an exception (") + e.what() + ") escaped " + describeCall(log.current()));
    } catch (...) {
        check.fail("an exception escaped " + describeCall(log.current()));
    }
    if (code != kChildSkip) {
        const std::vector<std::string>& failures = check.failures();
        for (size_t i = 0; i < failures.size() && i < kMaxReportedFailures; ++i)
            text += (i ? "; " : "") + failures[i];
        if (failures.size() > kMaxReportedFailures)
            text += "; and " + std::to_string(failures.size() - kMaxReportedFailures) + " more";
        code = failures.empty() ? kChildPass : kChildFail;
    }
    if (!text.empty() && write(fd, text.data(), text.size()) < 0) return 1;
    return code;
}

// Reads what the child writes until it closes the pipe or the time is up.
bool readUntilClosed(int fd, std::string& text, std::chrono::steady_clock::time_point deadline) {
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return n == 0 || errno == EINTR;
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

Session::Session(const Settings& settings, std::ostream& out)
    : settings_(settings), out_(out), log_(CallLog::create()) {}

void Session::report(const char* verdict, const char* group, const std::string& check, const std::string& detail) {
    out_ << verdict << " " << group << ": " << check;
    if (!detail.empty()) out_ << ": " << detail;
    out_ << std::endl;
}

void Session::run(const char* group, const std::string& check, const std::function<void(Check&)>& body) {
    log_->clear();
    int fds[2];
    out_.flush();
    std::fflush(nullptr);
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        close(fds[0]);
        // Whatever the plug-in prints goes to stderr, away from the verdicts.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        _exit(runInChild(settings_, *log_, settings_.seed ^ hashName(std::string(group) + "/" + check), body,
                         fds[1]));
    }
    close(fds[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kCheckTimeoutSeconds);
    const bool closed = readUntilClosed(fds[0], text, deadline);
    close(fds[0]);
    int status = 0;
    pid_t ended = 0;
    while (closed && (ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        usleep(1000);
    if (ended != child) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ++failed_;
        report("FAIL", group, check, "hung for " + std::to_string(kCheckTimeoutSeconds) + " s " + log_->describeCrash());
        return;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == kChildPass) {
        ++passed_;
        report("PASS", group, check, "");
    } else if (code == kChildSkip) {
        ++skipped_;
        report("SKIP", group, check, text);
    } else if (code == kChildFail) {
        ++failed_;
        report("FAIL", group, check, text);
    } else {
        ++failed_;
        // What the check had found before the crash (in effClose), if anything.
        const std::string before = text.empty() ? "" : text + "; then ";
        report("FAIL", group, check, before + describeEnding(status) + " " + log_->describeCrash());
    }
}

const std::vector<Group>& groups() {
    static const std::vector<Group> all = {
        {"load", validateLoad},       {"dispatcher", validateDispatcher}, {"parameters", validateParameters},
        {"state", validateState},     {"events", validateEvents},         {"blocks", validateBlocks},
        {"threads", validateThreads}, {"editor", validateEditor},
    };
    return all;
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
