// The VST3 binary interface as the C structs of function tables from
// dpf-source's "travesty" headers, and the little glue that lets one C++
// object present several of those interfaces.
//
// A host holds an interface as a pointer to a pointer to its function table.
// Each object here keeps one Face per interface: the table pointer, then the
// object itself, so every thunk gets back to its object from `self`.
#pragma once

#include <atomic>
#include <cstdint>

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/events.h"
#include "travesty/factory.h"
#include "travesty/host.h"
#include "travesty/message.h"
#include "travesty/unit.h"
#include "travesty/view.h"

namespace kovalith::vst3 {

constexpr v3_result kResultOk = V3_OK;
constexpr v3_result kResultTrue = V3_TRUE;
constexpr v3_result kResultFalse = V3_FALSE;
constexpr v3_result kInvalidArgument = V3_INVALID_ARG;
constexpr v3_result kNotImplemented = V3_NOT_IMPLEMENTED;
constexpr v3_result kNoInterface = V3_NO_INTERFACE;

// One interface of an object, as the host sees it.
struct Face {
    const void* table;
    void* object;
};

template <typename T>
T* objectOf(void* self) {
    return static_cast<T*>(static_cast<Face*>(self)->object);
}

// The reference count every object shares; the last release deletes it.
class RefCounted {
public:
    uint32_t addRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t release() {
        const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<uint32_t> refs_{1};
};

// The C entry for member function Method of the object behind `self`:
// Thunk<&Class::method>::call fills a slot of an interface's table.
template <auto Method>
struct Thunk;
template <typename T, typename R, typename... Args, R (T::*Method)(Args...)>
struct Thunk<Method> {
    static R V3_API call(void* self, Args... args) { return (objectOf<T>(self)->*Method)(args...); }
};

// The three FUnknown entries of every table of T.
template <typename T>
constexpr v3_funknown unknownTable() {
    return {Thunk<&T::queryInterface>::call, Thunk<&T::addRef>::call, Thunk<&T::release>::call};
}

// Hands out `face` for a matching interface id, with a new reference.
template <typename T>
bool offer(T* object, const v3_tuid iid, const v3_tuid wanted, Face& face, void** out) {
    if (!v3_tuid_match(iid, wanted)) return false;
    object->addRef();
    *out = &face;
    return true;
}

// Calls through an interface pointer the host gave us: `table` is the C
// struct of the interface's own entries, which follow FUnknown's three.
template <typename Table>
const Table* entries(void* object) {
    return reinterpret_cast<const Table*>(static_cast<const uint8_t*>(*static_cast<void**>(object)) +
                                          sizeof(v3_funknown));
}
inline const v3_funknown* unknown(void* object) { return *static_cast<const v3_funknown* const*>(object); }
inline void releaseInterface(void* object) {
    if (object) unknown(object)->unref(object);
}

}  // namespace kovalith::vst3
