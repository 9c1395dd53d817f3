// What pairs a controller with the processor the host connected it to. Both
// live in this module, so the processor publishes its effect under a number
// and sends the number in a message; the controller looks the effect up and
// uses it on the user-interface thread for what the host's parameter traffic
// cannot carry: the MIDI-learn commands and the engine's tempo for the synced
// read-outs. A host that never connects the two loses only those.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "effect/KovalithEffect.h"
#include "vst3/Vst3Com.h"

namespace kovalith::vst3 {

constexpr const char* kLinkMessageId = "KovalithLink";
constexpr const char* kLinkAttribute = "effect";

// A number the effect can be found under until withdrawEffect.
uint64_t publishEffect(const std::shared_ptr<KovalithEffect>& effect);
void withdrawEffect(uint64_t number);
std::weak_ptr<KovalithEffect> findEffect(uint64_t number);

// A message with integer attributes, for hosts that pass ours on as it is.
class Vst3Message : public RefCounted {
public:
    explicit Vst3Message(const char* id);

    v3_result queryInterface(const v3_tuid iid, void** out);
    // The interface to hand to IConnectionPoint::notify.
    v3_message** message() { return reinterpret_cast<v3_message**>(&messageFace_); }

    const char* getMessageId() { return id_.c_str(); }
    void setMessageId(const char* id) { id_ = id ? id : ""; }
    v3_attribute_list** getAttributes();

    v3_result setInt(const char* id, int64_t value);
    v3_result getInt(const char* id, int64_t* value);
    v3_result setFloat(const char*, double) { return kResultFalse; }
    v3_result getFloat(const char*, double*) { return kResultFalse; }
    v3_result setString(const char*, const int16_t*) { return kResultFalse; }
    v3_result getString(const char*, int16_t*, uint32_t) { return kResultFalse; }
    v3_result setBinary(const char*, const void*, uint32_t) { return kResultFalse; }
    v3_result getBinary(const char*, const void**, uint32_t*) { return kResultFalse; }

private:
    Face messageFace_;
    Face attributesFace_;
    std::string id_;
    std::map<std::string, int64_t> ints_;
};

// The effect number a link message carries, or 0 when `message` is none.
uint64_t linkNumber(v3_message** message);

}  // namespace kovalith::vst3
