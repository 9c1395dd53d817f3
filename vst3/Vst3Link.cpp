#include "vst3/Vst3Link.h"

#include <cstring>
#include <mutex>

namespace kovalith::vst3 {
namespace {

std::mutex registryMutex;
std::map<uint64_t, std::weak_ptr<KovalithEffect>>& registry() {
    static std::map<uint64_t, std::weak_ptr<KovalithEffect>> effects;
    return effects;
}
uint64_t lastNumber = 0;

constexpr v3_message_cpp kMessageTable{
    unknownTable<Vst3Message>(),
    {Thunk<&Vst3Message::getMessageId>::call, Thunk<&Vst3Message::setMessageId>::call,
     Thunk<&Vst3Message::getAttributes>::call}};

constexpr v3_attribute_list_cpp kAttributesTable{
    unknownTable<Vst3Message>(),
    {Thunk<&Vst3Message::setInt>::call, Thunk<&Vst3Message::getInt>::call, Thunk<&Vst3Message::setFloat>::call,
     Thunk<&Vst3Message::getFloat>::call, Thunk<&Vst3Message::setString>::call,
     Thunk<&Vst3Message::getString>::call, Thunk<&Vst3Message::setBinary>::call,
     Thunk<&Vst3Message::getBinary>::call}};

}  // namespace

uint64_t publishEffect(const std::shared_ptr<KovalithEffect>& effect) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[++lastNumber] = effect;
    return lastNumber;
}

void withdrawEffect(uint64_t number) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry().erase(number);
}

std::weak_ptr<KovalithEffect> findEffect(uint64_t number) {
    std::lock_guard<std::mutex> lock(registryMutex);
    const auto found = registry().find(number);
    return found == registry().end() ? std::weak_ptr<KovalithEffect>() : found->second;
}

Vst3Message::Vst3Message(const char* id)
    : messageFace_{&kMessageTable, this}, attributesFace_{&kAttributesTable, this}, id_(id ? id : "") {}

v3_result Vst3Message::queryInterface(const v3_tuid iid, void** out) {
    if (!out) return kInvalidArgument;
    if (offer(this, iid, v3_funknown_iid, messageFace_, out) || offer(this, iid, v3_message_iid, messageFace_, out) ||
        offer(this, iid, v3_attribute_list_iid, attributesFace_, out))
        return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

// Owned by the message, so no new reference: the host does not release it.
v3_attribute_list** Vst3Message::getAttributes() { return reinterpret_cast<v3_attribute_list**>(&attributesFace_); }

v3_result Vst3Message::setInt(const char* id, int64_t value) {
    if (!id) return kInvalidArgument;
    ints_[id] = value;
    return kResultOk;
}

v3_result Vst3Message::getInt(const char* id, int64_t* value) {
    if (!id || !value) return kInvalidArgument;
    const auto found = ints_.find(id);
    if (found == ints_.end()) return kResultFalse;
    *value = found->second;
    return kResultOk;
}

uint64_t linkNumber(v3_message** message) {
    if (!message) return 0;
    const v3_message* m = entries<v3_message>(message);
    const char* id = m->get_message_id(message);
    if (!id || std::strcmp(id, kLinkMessageId) != 0) return 0;
    v3_attribute_list** attributes = m->get_attributes(message);
    int64_t number = 0;
    if (!attributes || entries<v3_attribute_list>(attributes)->get_int(attributes, kLinkAttribute, &number) != kResultOk)
        return 0;
    return static_cast<uint64_t>(number);
}

}  // namespace kovalith::vst3
