#include "host/PluginHost.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kovalith {
namespace host {

namespace {

constexpr intptr_t kHostVstVersion = 2400;
constexpr const char* kHostVendor = "Kovalith";
constexpr const char* kHostProduct = "kovalith host";
constexpr intptr_t kHostVendorVersion = 1;
constexpr int kTextBufferSize = 256;

// audioMasterGetCurrentProcessLevel answers.
constexpr intptr_t kProcessLevelUser = 1;
constexpr intptr_t kProcessLevelRealtime = 2;

// Live instances, so that the callback can tell our own record in
// effect->user from anything else. Lock-free: the plug-in calls the host from
// its audio thread.
struct InstanceSlot {
    std::atomic<vst2::AEffect*> effect{nullptr};
    std::atomic<PluginInstance*> instance{nullptr};
};
constexpr int kMaxInstances = 256;
InstanceSlot g_instances[kMaxInstances];

// The instance being created on this thread: the entry point calls the host
// before the effect record exists or is known to us.
thread_local PluginInstance* t_creating = nullptr;

class CreatingScope {
public:
    explicit CreatingScope(PluginInstance* instance) : previous_(t_creating) { t_creating = instance; }
    ~CreatingScope() { t_creating = previous_; }
    CreatingScope(const CreatingScope&) = delete;
    CreatingScope& operator=(const CreatingScope&) = delete;

private:
    PluginInstance* previous_;
};

bool registerInstance(vst2::AEffect* effect, PluginInstance* instance) {
    for (InstanceSlot& slot : g_instances) {
        vst2::AEffect* expected = nullptr;
        if (slot.effect.compare_exchange_strong(expected, effect)) {
            slot.instance.store(instance, std::memory_order_release);
            return true;
        }
    }
    return false;
}

void unregisterInstance(const PluginInstance* instance) {
    for (InstanceSlot& slot : g_instances) {
        if (slot.instance.load(std::memory_order_acquire) == instance) {
            slot.instance.store(nullptr, std::memory_order_release);
            slot.effect.store(nullptr, std::memory_order_release);
        }
    }
}

PluginInstance* registeredInstanceOf(const vst2::AEffect* effect) {
    for (InstanceSlot& slot : g_instances) {
        if (slot.effect.load(std::memory_order_acquire) == effect)
            return slot.instance.load(std::memory_order_acquire);
    }
    return nullptr;
}

// effect->user names the instance; it is only trusted once the registry
// confirms it, so a plug-in that writes into the field itself is still served.
PluginInstance* findInstance(vst2::AEffect* effect) {
    if (!effect) return t_creating;
    auto* named = static_cast<PluginInstance*>(effect->user);
    PluginInstance* registered = registeredInstanceOf(effect);
    if (registered && named == registered) return named;
    return registered ? registered : t_creating;
}

void copyText(void* ptr, const char* text, size_t capacity) {
    if (!ptr) return;
    std::snprintf(static_cast<char*>(ptr), capacity, "%s", text);
}

}  // namespace

// The static callback the plug-in sees; forwards to the instance.
struct HostCallbackAccess {
    static intptr_t callback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                             float opt) {
        if (PluginInstance* instance = findInstance(effect))
            return instance->onHostRequest(opcode, index, value, ptr, opt);
        return answerWithoutInstance(opcode, ptr);
    }

    // Requests from an effect we don't know: identity only.
    static intptr_t answerWithoutInstance(int32_t opcode, void* ptr) {
        switch (opcode) {
        case vst2::audioMasterVersion: return kHostVstVersion;
        case vst2::audioMasterGetVendorString: copyText(ptr, kHostVendor, vst2::kVstMaxVendorStrLen); return 1;
        case vst2::audioMasterGetProductString: copyText(ptr, kHostProduct, vst2::kVstMaxProductStrLen); return 1;
        case vst2::audioMasterGetVendorVersion: return kHostVendorVersion;
        case vst2::audioMasterCanDo: return ptr ? PluginInstance::baseCanDo(static_cast<const char*>(ptr)) : 0;
        default: return 0;
        }
    }
};

namespace {

#ifdef _WIN32
// The Windows test program drives the DLL through this same host (tests/windows).
void* openLibrary(const std::string& path, std::string* why) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) *why = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}

void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

// GetProcAddress looks in that module only, so a `main` found there is the plug-in's.
vst2::VSTPluginMainProc findEntryPoint(void* library) {
    const HMODULE module = static_cast<HMODULE>(library);
    FARPROC sym = GetProcAddress(module, "VSTPluginMain");
    if (!sym) sym = GetProcAddress(module, "main");
    return reinterpret_cast<vst2::VSTPluginMainProc>(reinterpret_cast<void (*)()>(sym));
}
#else
void* openLibrary(const std::string& path, std::string* why) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = dlerror();
        *why = error ? error : path;
    }
    return library;
}

void closeLibrary(void* library) { dlclose(library); }

vst2::VSTPluginMainProc findEntryPoint(void* library) {
    if (void* sym = dlsym(library, "VSTPluginMain")) return reinterpret_cast<vst2::VSTPluginMainProc>(sym);
    void* sym = dlsym(library, "main");
    if (!sym) return nullptr;
    // Older plug-ins export their entry as `main`; make sure it is theirs and not ours.
    link_map* map = nullptr;
    Dl_info info{};
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || dladdr(sym, &info) == 0 || !info.dli_fname)
        return nullptr;
    if (std::strcmp(map->l_name, info.dli_fname) != 0) return nullptr;
    return reinterpret_cast<vst2::VSTPluginMainProc>(sym);
}
#endif

std::unique_ptr<PluginInstance> fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return nullptr;
}

}  // namespace

bool PluginInstance::isPluginLibrary(const std::string& path, std::string* error) {
    std::string why;
    void* library = openLibrary(path, &why);
    if (!library) {
        if (error) *error = why;
        return false;
    }
    const bool found = findEntryPoint(library) != nullptr;
    if (!found && error) *error = "it has no VSTPluginMain or main entry point";
    closeLibrary(library);
    return found;
}

std::unique_ptr<PluginInstance> PluginInstance::load(const std::string& path, std::string* error) {
    std::unique_ptr<PluginInstance> instance(new PluginInstance);
    instance->path_ = path;
    std::string why;
    instance->library_ = openLibrary(path, &why);
    if (!instance->library_) return fail(error, "cannot open the plug-in: " + why);
    vst2::VSTPluginMainProc entry = findEntryPoint(instance->library_);
    if (!entry) return fail(error, path + " has no VSTPluginMain or main entry point");

    vst2::AEffect* effect = nullptr;
    {
        CreatingScope creating(instance.get());
        try {
            effect = entry(&HostCallbackAccess::callback);
        } catch (...) {
            return fail(error, path + ": the entry point threw an exception");
        }
    }
    if (!effect) return fail(error, path + ": the entry point returned no effect");
    // A record without the magic is not an effect; it is never dispatched to or closed.
    if (effect->magic != vst2::kEffectMagic) return fail(error, path + ": the effect record has a wrong magic");
    if (!effect->dispatcher) return fail(error, path + ": the effect record has no dispatcher");

    if (!registerInstance(effect, instance.get())) {
        effect->dispatcher(effect, vst2::effClose, 0, 0, nullptr, 0.0f);
        return fail(error, "too many plug-in instances are open");
    }
    instance->effect_ = effect;
    effect->user = instance.get();
    {
        CreatingScope creating(instance.get());
        instance->dispatch(vst2::effOpen);
    }
    instance->dispatch(vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(instance->sampleRate_));
    instance->dispatch(vst2::effSetBlockSize, 0, instance->blockSize_);
    return instance;
}

PluginInstance::~PluginInstance() {
    if (effect_) {
        if (resumed_) dispatch(vst2::effMainsChanged, 0, 0);
        effect_->dispatcher(effect_, vst2::effClose, 0, 0, nullptr, 0.0f);
        effect_ = nullptr;
    }
    unregisterInstance(this);
    if (library_) closeLibrary(library_);
}

intptr_t PluginInstance::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void PluginInstance::setSampleRate(double rate) {
    if (!(rate > 0.0) || !std::isfinite(rate)) return;
    const bool wasResumed = resumed_;
    if (wasResumed) suspend();
    sampleRate_ = rate;
    dispatch(vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    if (hasTransport_.load(std::memory_order_relaxed)) refreshTimeInfo();
    if (wasResumed) resume();
}

void PluginInstance::setBlockSize(int frames) {
    if (frames <= 0) return;
    const bool wasResumed = resumed_;
    if (wasResumed) suspend();
    blockSize_ = frames;
    dispatch(vst2::effSetBlockSize, 0, frames);
    if (wasResumed) resume();
}

void PluginInstance::resume() {
    if (resumed_) return;
    dispatch(vst2::effMainsChanged, 0, 1);
    resumed_ = true;
}

void PluginInstance::suspend() {
    if (!resumed_) return;
    dispatch(vst2::effMainsChanged, 0, 0);
    resumed_ = false;
}

bool PluginInstance::process(float** in, float** out, int frames) {
    if (frames < 0 || frames > blockSize_) return false;
    if (frames == 0) return true;
    if (!resumed_) resume();
    inProcess_.store(true, std::memory_order_relaxed);
    if (effect_->processReplacing) {
        effect_->processReplacing(effect_, in, out, frames);
    } else if (effect_->process) {
        // The accumulating entry adds to the outputs.
        for (int c = 0; c < effect_->numOutputs; ++c) std::fill(out[c], out[c] + frames, 0.0f);
        effect_->process(effect_, in, out, frames);
    } else {
        inProcess_.store(false, std::memory_order_relaxed);
        return false;
    }
    inProcess_.store(false, std::memory_order_relaxed);
    return true;
}

void PluginInstance::setParameter(int index, float value) {
    if (effect_->setParameter) effect_->setParameter(effect_, index, value);
}

float PluginInstance::getParameter(int index) const {
    return effect_->getParameter ? effect_->getParameter(effect_, index) : 0.0f;
}

std::string PluginInstance::textRequest(int32_t opcode, int32_t index) {
    char text[kTextBufferSize] = {};
    dispatch(opcode, index, 0, text);
    text[kTextBufferSize - 1] = '\0';
    return text;
}

std::string PluginInstance::parameterName(int index) { return textRequest(vst2::effGetParamName, index); }
std::string PluginInstance::parameterLabel(int index) { return textRequest(vst2::effGetParamLabel, index); }
std::string PluginInstance::parameterDisplay(int index) { return textRequest(vst2::effGetParamDisplay, index); }

int PluginInstance::currentProgram() { return static_cast<int>(dispatch(vst2::effGetProgram)); }

void PluginInstance::setProgram(int program) { dispatch(vst2::effSetProgram, 0, program); }

std::string PluginInstance::currentProgramName() { return textRequest(vst2::effGetProgramName, 0); }

void PluginInstance::setCurrentProgramName(const std::string& name) {
    char text[kTextBufferSize] = {};
    std::snprintf(text, sizeof text, "%s", name.c_str());
    dispatch(vst2::effSetProgramName, 0, 0, text);
}

std::string PluginInstance::programName(int program) {
    char text[kTextBufferSize] = {};
    if (dispatch(vst2::effGetProgramNameIndexed, program, -1, text) != 0) {
        text[kTextBufferSize - 1] = '\0';
        return text;
    }
    return programNames().at(static_cast<size_t>(program));
}

std::vector<std::string> PluginInstance::programNames() {
    const int count = std::max(0, numPrograms());
    std::vector<std::string> names(static_cast<size_t>(count));
    bool indexed = true;
    for (int p = 0; p < count && indexed; ++p) {
        char text[kTextBufferSize] = {};
        indexed = dispatch(vst2::effGetProgramNameIndexed, p, -1, text) != 0;
        text[kTextBufferSize - 1] = '\0';
        names[static_cast<size_t>(p)] = text;
    }
    if (indexed) return names;

    // Walk the programs and come back; plug-ins whose programs carry parameter
    // values would otherwise lose the current edits.
    const int current = currentProgram();
    std::vector<float> values(static_cast<size_t>(std::max(0, numParams())));
    for (size_t i = 0; i < values.size(); ++i) values[i] = getParameter(static_cast<int>(i));
    for (int p = 0; p < count; ++p) {
        setProgram(p);
        names[static_cast<size_t>(p)] = currentProgramName();
    }
    setProgram(current);
    for (size_t i = 0; i < values.size(); ++i) setParameter(static_cast<int>(i), values[i]);
    return names;
}

std::string PluginInstance::effectName() { return textRequest(vst2::effGetEffectName, 0); }
std::string PluginInstance::vendor() { return textRequest(vst2::effGetVendorString, 0); }
std::string PluginInstance::product() { return textRequest(vst2::effGetProductString, 0); }
int PluginInstance::vendorVersion() { return static_cast<int>(dispatch(vst2::effGetVendorVersion)); }
int PluginInstance::vstVersion() { return static_cast<int>(dispatch(vst2::effGetVstVersion)); }

int PluginInstance::canDo(const std::string& what) {
    std::vector<char> text(what.begin(), what.end());
    text.push_back('\0');
    const intptr_t answer = dispatch(vst2::effCanDo, 0, 0, text.data());
    return answer > 0 ? 1 : (answer < 0 ? -1 : 0);
}

bool PluginInstance::editorSize(int& width, int& height) {
    vst2::ERect* rect = nullptr;
    if (dispatch(vst2::effEditGetRect, 0, 0, &rect) == 0 || !rect) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    return width > 0 && height > 0 && width <= 8192 && height <= 8192;
}

std::vector<uint8_t> PluginInstance::getChunk(bool preset) {
    void* data = nullptr;
    const intptr_t size = dispatch(vst2::effGetChunk, preset ? 1 : 0, 0, &data);
    if (size <= 0 || !data) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

bool PluginInstance::setChunk(const std::vector<uint8_t>& bytes, bool preset) {
    if (bytes.empty()) return false;
    // The plug-in may keep or modify the buffer during the call; give it our own copy.
    std::vector<uint8_t> copy(bytes);
    return dispatch(vst2::effSetChunk, preset ? 1 : 0, static_cast<intptr_t>(copy.size()), copy.data()) != 0;
}

bool PluginInstance::sendMidi(uint8_t status, uint8_t data1, uint8_t data2, int deltaFrames) {
    vst2::VstMidiEvent event{};
    event.type = vst2::kVstMidiType;
    event.byteSize = sizeof(vst2::VstMidiEvent);
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    vst2::VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<vst2::VstEvent*>(&event);
    return dispatch(vst2::effProcessEvents, 0, 0, &events) != 0;
}

void PluginInstance::setTransport(const std::optional<Transport>& transport) {
    if (!transport) {
        hasTransport_.store(false, std::memory_order_release);
        return;
    }
    transport_ = *transport;
    if (!std::isfinite(transport_.tempo) || transport_.tempo <= 0.0) transport_.tempo = 120.0;
    if (!std::isfinite(transport_.ppqPos)) transport_.ppqPos = 0.0;
    if (!std::isfinite(transport_.sampleRate) || transport_.sampleRate < 0.0) transport_.sampleRate = 0.0;
    refreshTimeInfo();
    timeInfo_.flags |= vst2::kVstTransportChanged;
    hasTransport_.store(true, std::memory_order_release);
}

void PluginInstance::advance(int frames) {
    if (!hasTransport_.load(std::memory_order_relaxed) || !transport_.playing || frames <= 0) return;
    const double rate = transport_.sampleRate > 0.0 ? transport_.sampleRate : sampleRate_;
    transport_.ppqPos += frames * transport_.tempo / (60.0 * rate);
    refreshTimeInfo();
}

void PluginInstance::refreshTimeInfo() {
    const double rate = transport_.sampleRate > 0.0 ? transport_.sampleRate : sampleRate_;
    timeInfo_ = vst2::VstTimeInfo{};
    timeInfo_.sampleRate = rate;
    timeInfo_.samplePos = std::max(0.0, transport_.ppqPos * 60.0 / transport_.tempo * rate);
    timeInfo_.ppqPos = transport_.ppqPos;
    timeInfo_.tempo = transport_.tempo;
    timeInfo_.barStartPos = std::floor(transport_.ppqPos / 4.0) * 4.0;
    timeInfo_.timeSigNumerator = 4;
    timeInfo_.timeSigDenominator = 4;
    timeInfo_.flags = vst2::kVstPpqPosValid | vst2::kVstTempoValid | vst2::kVstBarsValid | vst2::kVstTimeSigValid;
    if (transport_.playing) timeInfo_.flags |= vst2::kVstTransportPlaying;
}

void PluginInstance::setTimeInfoOverride(const vst2::VstTimeInfo* info) {
    timeOverride_.store(info, std::memory_order_release);
    timeOverridden_.store(true, std::memory_order_release);
}

intptr_t PluginInstance::answerTime() {
    getTimeCount_.fetch_add(1, std::memory_order_relaxed);
    if (timeOverridden_.load(std::memory_order_acquire))
        return reinterpret_cast<intptr_t>(timeOverride_.load(std::memory_order_acquire));
    if (!hasTransport_.load(std::memory_order_acquire)) return 0;
    return reinterpret_cast<intptr_t>(&timeInfo_);
}

void PluginInstance::record(int32_t opcode, int32_t index, intptr_t value, float opt, int HostCounters::*counter) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    requests_.push_back(HostRequest{opcode, index, value, opt});
    ++(counters_.*counter);
}

std::vector<HostRequest> PluginInstance::requests() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return requests_;
}

HostCounters PluginInstance::counters() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    HostCounters result = counters_;
    result.getTime = getTimeCount_.load(std::memory_order_relaxed);
    return result;
}

void PluginInstance::clearRecord() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    requests_.clear();
    counters_ = HostCounters{};
    getTimeCount_.store(0, std::memory_order_relaxed);
}

int PluginInstance::baseCanDo(const char* what) {
    static const char* const kSupported[] = {"sendVstTimeInfo", "sendVstEvents", "sendVstMidiEvent"};
    for (const char* s : kSupported)
        if (std::strcmp(what, s) == 0) return 1;
    return 0;
}

int PluginInstance::hostCanDo(const char* what) const {
    if (std::strcmp(what, "sizeWindow") == 0) return sizeWindowHandler_ ? 1 : 0;
    return baseCanDo(what);
}

void PluginInstance::setSizeWindowHandler(std::function<bool(int, int)> handler) {
    sizeWindowHandler_ = std::move(handler);
}

intptr_t PluginInstance::onHostRequest(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    switch (opcode) {
    case vst2::audioMasterVersion: return kHostVstVersion;
    case vst2::audioMasterGetTime: return answerTime();
    case vst2::audioMasterAutomate: record(opcode, index, value, opt, &HostCounters::automate); return 0;
    case vst2::audioMasterUpdateDisplay: record(opcode, index, value, opt, &HostCounters::updateDisplay); return 1;
    case vst2::audioMasterBeginEdit: record(opcode, index, value, opt, &HostCounters::beginEdit); return 1;
    case vst2::audioMasterEndEdit: record(opcode, index, value, opt, &HostCounters::endEdit); return 1;
    case vst2::audioMasterIdle: record(opcode, index, value, opt, &HostCounters::idle); return 1;
    case vst2::audioMasterSizeWindow:
        record(opcode, index, value, opt, &HostCounters::sizeWindow);
        return sizeWindowHandler_ && sizeWindowHandler_(index, static_cast<int>(value)) ? 1 : 0;
    case vst2::audioMasterGetSampleRate: return static_cast<intptr_t>(sampleRate_);
    case vst2::audioMasterGetBlockSize: return blockSize_;
    case vst2::audioMasterGetCurrentProcessLevel:
        return inProcess_.load(std::memory_order_relaxed) ? kProcessLevelRealtime : kProcessLevelUser;
    case vst2::audioMasterCanDo: return ptr ? hostCanDo(static_cast<const char*>(ptr)) : 0;
    default: return HostCallbackAccess::answerWithoutInstance(opcode, ptr);
    }
}

}  // namespace host
}  // namespace kovalith
