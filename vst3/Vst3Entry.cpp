// The module's entry points and its plug-in factory: one audio effect class
// (the processor) and its controller class.
#include <cstring>

#include "vst3/Vst3Controller.h"
#include "vst3/Vst3Ids.h"
#include "vst3/Vst3Processor.h"
#include "vst3/Vst3Strings.h"

namespace kovalith::vst3 {
namespace {

// One factory for the module's lifetime; hosts count references on it all the same.
class Vst3Factory {
public:
    v3_result queryInterface(const v3_tuid iid, void** out);
    uint32_t addRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t release() { return refs_.fetch_sub(1, std::memory_order_relaxed) - 1; }

    v3_result getFactoryInfo(v3_factory_info* info);
    int32_t countClasses() { return 2; }
    v3_result getClassInfo(int32_t index, v3_class_info* info);
    v3_result createInstance(const v3_tuid classId, const v3_tuid iid, void** instance);
    v3_result getClassInfo2(int32_t index, v3_class_info_2* info);
    v3_result getClassInfoUtf16(int32_t index, v3_class_info_3* info);
    v3_result setHostContext(v3_funknown**) { return kResultOk; }

    v3_plugin_factory** factory() {
        addRef();
        return reinterpret_cast<v3_plugin_factory**>(&face_);
    }

private:
    Face face_{&table, this};
    std::atomic<uint32_t> refs_{0};

    static const v3_plugin_factory_cpp table;
};

using F = Vst3Factory;
const v3_plugin_factory_cpp Vst3Factory::table{
    unknownTable<F>(),
    {Thunk<&F::getFactoryInfo>::call, Thunk<&F::countClasses>::call, Thunk<&F::getClassInfo>::call,
     Thunk<&F::createInstance>::call},
    {Thunk<&F::getClassInfo2>::call},
    {Thunk<&F::getClassInfoUtf16>::call, Thunk<&F::setHostContext>::call}};

constexpr uint32_t kUnicodeFactory = 0x10;
constexpr int32_t kManyInstances = 0x7FFFFFFF;

struct ClassIdentity {
    const uint8_t* id;
    const char* category;
    const char* subCategories;
};
const ClassIdentity kClasses[2] = {{kProcessorClassId, kAudioEffectCategory, kSubCategories},
                                   {kControllerClassId, kControllerCategory, ""}};

v3_result Vst3Factory::queryInterface(const v3_tuid iid, void** out) {
    if (!out) return kInvalidArgument;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
        v3_tuid_match(iid, v3_plugin_factory_2_iid) || v3_tuid_match(iid, v3_plugin_factory_3_iid)) {
        addRef();
        *out = &face_;
        return kResultOk;
    }
    *out = nullptr;
    return kNoInterface;
}

v3_result Vst3Factory::getFactoryInfo(v3_factory_info* info) {
    if (!info) return kInvalidArgument;
    *info = v3_factory_info{};
    copyText(info->vendor, sizeof info->vendor, kVendor);
    copyText(info->url, sizeof info->url, kVendorUrl);
    copyText(info->email, sizeof info->email, kVendorEmail);
    info->flags = kUnicodeFactory;
    return kResultOk;
}

v3_result Vst3Factory::getClassInfo(int32_t index, v3_class_info* info) {
    if (!info || index < 0 || index >= countClasses()) return kInvalidArgument;
    *info = v3_class_info{};
    std::memcpy(info->class_id, kClasses[index].id, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyText(info->category, sizeof info->category, kClasses[index].category);
    copyText(info->name, sizeof info->name, kPluginName);
    return kResultOk;
}

v3_result Vst3Factory::getClassInfo2(int32_t index, v3_class_info_2* info) {
    if (!info || index < 0 || index >= countClasses()) return kInvalidArgument;
    *info = v3_class_info_2{};
    std::memcpy(info->class_id, kClasses[index].id, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyText(info->category, sizeof info->category, kClasses[index].category);
    copyText(info->name, sizeof info->name, kPluginName);
    copyText(info->sub_categories, sizeof info->sub_categories, kClasses[index].subCategories);
    copyText(info->vendor, sizeof info->vendor, kVendor);
    copyText(info->version, sizeof info->version, kVersion);
    copyText(info->sdk_version, sizeof info->sdk_version, kSdkVersion);
    return kResultOk;
}

v3_result Vst3Factory::getClassInfoUtf16(int32_t index, v3_class_info_3* info) {
    if (!info || index < 0 || index >= countClasses()) return kInvalidArgument;
    *info = v3_class_info_3{};
    std::memcpy(info->class_id, kClasses[index].id, sizeof(v3_tuid));
    info->cardinality = kManyInstances;
    copyText(info->category, sizeof info->category, kClasses[index].category);
    toUtf16(info->name, 64, kPluginName);
    copyText(info->sub_categories, sizeof info->sub_categories, kClasses[index].subCategories);
    toUtf16(info->vendor, 64, kVendor);
    toUtf16(info->version, 64, kVersion);
    toUtf16(info->sdk_version, 64, kSdkVersion);
    return kResultOk;
}

// The new object's one reference goes to the host through the interface it
// asked for; an interface it does not have leaves nothing behind.
template <typename T>
v3_result create(const v3_tuid iid, void** instance) {
    T* object = new T();
    const v3_result result = object->queryInterface(iid, instance);
    object->release();
    return result;
}

v3_result Vst3Factory::createInstance(const v3_tuid classId, const v3_tuid iid, void** instance) {
    if (!classId || !iid || !instance) return kInvalidArgument;
    *instance = nullptr;
    if (v3_tuid_match(classId, kProcessorClassId)) return create<Vst3Processor>(iid, instance);
    if (v3_tuid_match(classId, kControllerClassId)) return create<Vst3Controller>(iid, instance);
    return kNoInterface;
}

Vst3Factory& theFactory() {
    static Vst3Factory factory;
    return factory;
}

}  // namespace
}  // namespace kovalith::vst3

#define KOVALITH_VST3_EXPORT extern "C" __attribute__((visibility("default")))

KOVALITH_VST3_EXPORT v3_plugin_factory** V3_API GetPluginFactory() {
    return kovalith::vst3::theFactory().factory();
}

// Nothing to set up or tear down: every instance owns all it uses.
#ifdef _WIN32
KOVALITH_VST3_EXPORT bool InitDll() { return true; }
KOVALITH_VST3_EXPORT bool ExitDll() { return true; }
#else
KOVALITH_VST3_EXPORT bool ModuleEntry(void*) { return true; }
KOVALITH_VST3_EXPORT bool ModuleExit() { return true; }
#endif
