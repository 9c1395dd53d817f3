// `kovalith validate`: a battery of hostile-but-legal (and some plainly
// hostile) host behaviour for any Linux VST 2.4 plug-in.
//
// Every check runs in a forked child that loads the library afresh, so a crash
// costs one reported failure and the battery goes on. Before each call into the
// plug-in the child writes what it is about to do into shared memory; when the
// child dies, the parent reports that call. Audio buffers end at a PROT_NONE
// page, so reading or writing past sampleFrames faults at once, and outputs are
// filled with NaN first, so an output channel left unwritten shows up as
// non-finite.
#pragma once

// Sanitizer runtimes replace malloc and hold freed memory in quarantine, which
// changes how heap and resident memory are measured.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KOVALITH_VALIDATE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KOVALITH_VALIDATE_SANITIZED 1
#endif
#endif

#include "host/PluginHost.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kovalith {
namespace host {
namespace validate {

struct Settings {
    std::string pluginPath;
    int strictness = 5;     // 1..10: how many cases, how long
    uint64_t seed = 1;
    std::set<std::string> only;  // the groups to run; empty for all
};

// splitmix64: small, fast and the same everywhere, so a seed replays a run.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [lo, hi], both included.
    int range(int lo, int hi);
    // Uniform in [0, 1).
    double unit();
    bool chance(double probability) { return unit() < probability; }

private:
    uint64_t state_;
};

// Bytes whose last one sits right before a PROT_NONE page: the first access
// past the end faults.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t capacity);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    // The last `bytes` bytes before the guard page (bytes <= capacity).
    uint8_t* tail(size_t bytes) const { return guard_ - bytes; }
    size_t capacity() const { return capacity_; }

private:
    uint8_t* mapping_ = nullptr;
    size_t mappingSize_ = 0;
    uint8_t* guard_ = nullptr;
    size_t capacity_ = 0;
};

// What a pointer argument pointed at, for the crash report.
enum class PointerKind : int32_t { None, Null, Zeroed, Text, Rect, Chunk, Events, Window };

enum class CallKind : int32_t { None, Load, Dispatch, Process, SetParameter, GetParameter, Close };

// One call into the plug-in, as the child announces it before making it.
struct CallRecord {
    CallKind kind;
    int32_t opcode;
    int32_t index;
    int64_t value;
    float opt;
    PointerKind pointer;
    int32_t frames;
    int32_t blockSize;
    float sampleRate;
    char note[96];      // what the check was doing, e.g. "bank chunk, 3 bit flips"
};

// Who is calling: the check's own thread, or the audio thread it started.
enum class Caller : int { Main = 0, Audio = 1, kCount = 2 };

// The call records of one child, in memory shared with the parent.
class CallLog {
public:
    // Maps the log; call before forking.
    static CallLog* create();
    void clear();
    CallRecord& current();          // the calling thread's record
    std::string describeCrash() const;

    // Marks the calling thread as `caller` for its lifetime.
    class Role {
    public:
        explicit Role(Caller caller);
        ~Role();
        Role(const Role&) = delete;
        Role& operator=(const Role&) = delete;

    private:
        Caller previous_;
    };

private:
    CallRecord records_[static_cast<int>(Caller::kCount)];
};

// Stereo (or whatever the plug-in announces) audio in guard-paged channels.
class AudioBuffers {
public:
    AudioBuffers(int inputs, int outputs, int maxFrames);
    // Noise on the inputs and `outputFill` on the outputs, for a block of `frames`.
    void prepare(int frames, Rng& rng, float outputFill);
    float** inputs() { return inputPointers_.data(); }
    float** outputs() { return outputPointers_.data(); }
    // Every output sample of the prepared block is finite.
    bool outputsFinite() const;

private:
    int maxFrames_;
    int frames_ = 0;
    std::vector<std::unique_ptr<GuardedBuffer>> inputs_, outputs_;
    std::vector<float*> inputPointers_, outputPointers_;
};

// The plug-in under test inside a child. Every call goes through here, so the
// call log always names the one in progress.
class Subject {
public:
    // Loads the library afresh; null (with the reason) when it cannot.
    static std::unique_ptr<Subject> load(const std::string& path, CallLog& log, std::string* error);
    ~Subject();

    vst2::AEffect* effect() const { return instance_->effect(); }
    int numInputs() const { return effect()->numInputs; }
    int numOutputs() const { return effect()->numOutputs; }
    int numParams() const { return effect()->numParams; }
    int numPrograms() const { return effect()->numPrograms; }
    bool hasChunks() const { return (effect()->flags & vst2::effFlagsProgramChunks) != 0; }
    bool hasEditor() const { return (effect()->flags & vst2::effFlagsHasEditor) != 0; }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f,
                      PointerKind pointer = PointerKind::None);
    void setSampleRate(float rate);
    void setBlockSize(int frames);
    void resume();
    void suspend();
    // One block through processReplacing (or the accumulating entry); answers
    // whether every output sample is finite.
    bool process(AudioBuffers& buffers, int frames, Rng& rng);
    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);
    // A copy of the bank (program = false) or program chunk; empty when none.
    std::vector<uint8_t> chunk(bool program);
    // Hands `size` bytes at `data` to effSetChunk as they are.
    intptr_t setChunk(void* data, intptr_t size, bool program, PointerKind pointer = PointerKind::Chunk);

    // What audioMasterGetTime answers: exactly this record (null: no time info).
    void setTimeInfo(const vst2::VstTimeInfo* info) { instance_->setTimeInfoOverride(info); }

    // Says what the next calls are for, in the crash report.
    void note(const std::string& text);
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    int blockSize() const { return blockSize_.load(std::memory_order_relaxed); }

private:
    Subject(std::unique_ptr<PluginInstance> instance, CallLog& log);
    CallRecord& announce(CallKind kind, int32_t opcode = 0, int32_t index = 0, int64_t value = 0, float opt = 0.0f,
                         PointerKind pointer = PointerKind::None, int32_t frames = 0);

    std::unique_ptr<PluginInstance> instance_;
    CallLog& log_;
    // Written by whichever thread changes them, read by both for the record.
    std::atomic<float> sampleRate_{44100.0f};
    std::atomic<int> blockSize_{512};
};

// One check, inside its child process.
class Check {
public:
    Check(const Settings& settings, CallLog& log, uint64_t seed);

    // The plug-in, loaded on first use (and set to 44.1 kHz, 512 frames).
    Subject& plugin();
    // Loads another instance of its own.
    std::unique_ptr<Subject> loadAnother();
    void fail(const std::string& detail);
    // Ends the check as skipped (not counted as passed).
    [[noreturn]] void skip(const std::string& reason);
    bool failed() const { return !failures_.empty(); }
    const std::vector<std::string>& failures() const { return failures_; }

    Rng& rng() { return rng_; }
    // `atTen` cases at strictness 10, fewer below (quadratically), at least `least`.
    int scaled(int atTen, int least = 1) const;
    const Settings& settings() const { return settings_; }

    // Runs `blocks` blocks of `frames`; fails (once, with `what`) when an output is not finite.
    bool processFinite(AudioBuffers& buffers, int frames, int blocks, const std::string& what);

private:
    const Settings& settings_;
    CallLog& log_;
    Rng rng_;
    std::unique_ptr<Subject> plugin_;
    std::vector<std::string> failures_;
};

// An audio thread of its own: processes blocks of random sizes (up to
// `maxFrames`, sending MIDI controllers now and then) until stopped, and
// counts the blocks whose output was not finite.
class AudioRunner {
public:
    AudioRunner(Subject& plugin, uint64_t seed, int maxFrames);
    ~AudioRunner();  // stops
    AudioRunner(const AudioRunner&) = delete;
    AudioRunner& operator=(const AudioRunner&) = delete;

    void stop();
    int blocks() const { return blocks_.load(std::memory_order_acquire); }
    int nonFiniteBlocks() const { return nonFinite_.load(std::memory_order_acquire); }

private:
    void loop(uint64_t seed);

    Subject& plugin_;
    int maxFrames_;
    std::atomic<bool> running_{true};
    std::atomic<int> blocks_{0}, nonFinite_{0};
    std::thread thread_;
};

// Runs checks in children and prints one PASS / FAIL / SKIP line each.
class Session {
public:
    Session(const Settings& settings, std::ostream& out);
    void run(const char* group, const std::string& check, const std::function<void(Check&)>& body);
    int passed() const { return passed_; }
    int failed() const { return failed_; }
    int skipped() const { return skipped_; }
    const Settings& settings() const { return settings_; }

private:
    void report(const char* verdict, const char* group, const std::string& check, const std::string& detail);

    const Settings& settings_;
    std::ostream& out_;
    CallLog* log_;
    int passed_ = 0, failed_ = 0, skipped_ = 0;
};

// The groups, in the order they run.
void validateLoad(Session& session);
void validateDispatcher(Session& session);
void validateParameters(Session& session);
void validateState(Session& session);
void validateEvents(Session& session);
void validateBlocks(Session& session);
void validateThreads(Session& session);
void validateEditor(Session& session);

struct Group {
    const char* name;
    void (*run)(Session& session);
};
const std::vector<Group>& groups();

// Small shared helpers of the groups.
std::string describeFloat(double value);
// 0..1 normalised parameter values a host sends.
float randomParameterValue(Rng& rng);
// Resident bytes of this process.
double residentBytes();
// Whether `growth` bytes of RSS over `cycles` repetitions is flat: at most a
// few KB per cycle beyond page-granular noise. Always true under a sanitizer.
bool residentGrowthFlat(double growth, int cycles);
// A list of MIDI events as effProcessEvents takes it.
class EventList {
public:
    explicit EventList(int capacity);
    // Sets the count the list announces (which may differ from what it holds).
    void setCount(int32_t count) { events()->numEvents = count; }
    void set(int slot, void* event) { events()->events[slot] = static_cast<vst2::VstEvent*>(event); }
    vst2::VstEvents* events() { return reinterpret_cast<vst2::VstEvents*>(words_.data()); }

private:
    std::vector<intptr_t> words_;
};
vst2::VstMidiEvent midiEvent(uint8_t status, uint8_t data1, uint8_t data2, int32_t deltaFrames);

}  // namespace validate
}  // namespace host
}  // namespace kovalith
