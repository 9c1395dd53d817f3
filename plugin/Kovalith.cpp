#include "plugin/Kovalith.h"

#include <cmath>
#include <cstring>

#include "plugin/AEffEditor.h"

namespace kovalith {
namespace {

// Host buffers for names are at least this big in practice; our longest
// name, "Delay Stereo Multiplier", needs 24 bytes.
constexpr std::size_t kParamTextCapacity = 32;

}  // namespace

Kovalith::Kovalith(vst2::audioMasterCallback audioMaster, std::unique_ptr<KovalithEffect> effect)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams), effect_(std::move(effect)) {
    if (!effect_) effect_ = std::make_unique<KovalithEffect>();
    if (audioMaster) {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing();
        setUniqueID(kUniqueId);
    }
    programsAreChunks();
    effect_->setListener(this);
}

Kovalith::~Kovalith() { effect_->setListener(nullptr); }

// ---- lifecycle and processing ----------------------------------------------

void Kovalith::resume() { effect_->reset(); }

void Kovalith::setSampleRate(float rate) {
    // A rate of 0, below 0 or not finite would poison every time computation.
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    AudioEffectX::setSampleRate(rate);
    effect_->setSampleRate(rate);
}

void Kovalith::processReplacing(float** inputs, float** outputs, int32_t sampleFrames) {
    effect_->process(inputs, outputs, sampleFrames, this);
}

void Kovalith::processAccumulating(float** inputs, float** outputs, int32_t sampleFrames) {
    effect_->process(inputs, outputs, sampleFrames, this);
}

HostTimeInfo hostTimeFrom(const vst2::VstTimeInfo& info) {
    HostTimeInfo t;
    t.tempo = info.tempo;
    t.ppqPosition = info.ppqPos;
    t.barStartPosition = info.barStartPos;
    t.timeSigNumerator = info.timeSigNumerator;
    t.timeSigDenominator = info.timeSigDenominator;
    t.tempoValid = (info.flags & vst2::kVstTempoValid) != 0;
    t.ppqValid = (info.flags & vst2::kVstPpqPosValid) != 0;
    t.barsValid = (info.flags & vst2::kVstBarsValid) != 0;
    t.timeSigValid = (info.flags & vst2::kVstTimeSigValid) != 0;
    return t;
}

bool Kovalith::readHostTime(HostTimeInfo& info) {
    const vst2::VstTimeInfo* host = getTimeInfo(kTimeInfoRequest);
    if (!host) return false;
    info = hostTimeFrom(*host);
    return true;
}

// ---- parameters --------------------------------------------------------------

void Kovalith::parameterChanged(int index, float value) {
    if (editor) editor->setParameter(index, value);
}

// Set, not automated: the host re-reads the value but records no automation.
void Kovalith::parameterSetByController(int, float) { updateDisplay(); }

// The host's 0..1 (menus as their item's position) to the stored value; the
// learn commands above the parameters pass as they are.
void Kovalith::setParameter(int32_t index, float value) {
    effect_->setParameter(index, isParameterIndex(index) ? storedFromNormalised(index, value) : value);
}

float Kovalith::getParameter(int32_t index) { return normalisedFromStored(index, effect_->getParameter(index)); }

void Kovalith::getParameterLabel(int32_t, char* label) { copyText(label, "-", kParamTextCapacity); }

// Hosts see no display text: the editor shows the values.
void Kovalith::getParameterDisplay(int32_t, char* text) {
    if (text) text[0] = '\0';
}

void Kovalith::getParameterName(int32_t index, char* text) {
    copyText(text, isParameterIndex(index) ? kParameterTable[static_cast<std::size_t>(index)].name : "",
             kParamTextCapacity);
}

// ---- programs and chunks -----------------------------------------------------

void Kovalith::setProgram(int32_t program) {
    if (!effect_->hasBank()) return;
    AudioEffectX::setProgram(program);
    effect_->setProgram(program);
}

int32_t Kovalith::getProgram() { return effect_->program(); }

void Kovalith::setProgramName(const char* name) { effect_->setProgramName(name); }

void Kovalith::getProgramName(char* name) { effect_->getProgramName(name); }

int32_t Kovalith::getChunk(void** data, bool isPreset) { return effect_->getChunk(data, isPreset); }

int32_t Kovalith::setChunk(const void* data, int32_t byteSize, bool isPreset) {
    return effect_->setChunk(data, byteSize, isPreset);
}

// ---- identity ----------------------------------------------------------------

bool Kovalith::getEffectName(char* name) {
    copyText(name, kEffectName, vst2::kVstMaxEffectNameLen);
    return true;
}

bool Kovalith::getVendorString(char* text) {
    copyText(text, kVendorName, vst2::kVstMaxVendorStrLen);
    return true;
}

// Writes the name but answers 0, as the effect always has.
bool Kovalith::getProductString(char* text) {
    copyText(text, kProductName, vst2::kVstMaxProductStrLen);
    return false;
}

int32_t Kovalith::getVendorVersion() { return kVendorVersion; }

int32_t Kovalith::canDo(const char* text) {
    if (!text) return -1;
    if (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0) return 1;
    return -1;
}

}  // namespace kovalith
