// The base of every processing unit, and the aligned buffer the units that
// allocate their storage separately use.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#ifdef _WIN32
#include <malloc.h>
#endif

namespace kovalith {

// The one exception a unit throws: its buffer could not be allocated at construction.
class CMemoryAllocationFailure : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "memory allocation failure"; }
};

// The Windows C runtime has no aligned_alloc; its aligned blocks need their own free.
inline void* allocateAligned16(std::size_t bytes) {
#ifdef _WIN32
    return _aligned_malloc(bytes, 16);
#else
    return std::aligned_alloc(16, bytes);
#endif
}

inline void freeAligned16(void* block) {
#ifdef _WIN32
    _aligned_free(block);
#else
    std::free(block);
#endif
}

// A zeroed, 16-byte-aligned array allocated once at construction and freed by the
// destructor. Move-only, so a unit holding one can't be copied by accident.
template <typename T>
class CAlignedBuffer {
public:
    explicit CAlignedBuffer(std::size_t count) : count_(count) {
        std::size_t bytes = (count * sizeof(T) + 15) & ~std::size_t(15);
        data_ = static_cast<T*>(allocateAligned16(bytes ? bytes : 16));
        if (!data_) throw CMemoryAllocationFailure();
        std::memset(static_cast<void*>(data_), 0, bytes);
    }
    ~CAlignedBuffer() { freeAligned16(data_); }
    CAlignedBuffer(const CAlignedBuffer&) = delete;
    CAlignedBuffer& operator=(const CAlignedBuffer&) = delete;

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return count_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    T* data_ = nullptr;
    std::size_t count_ = 0;
};

// One sample in, one sample out. Units that use the anti-denormal offset add it to
// their recursive input and flip its sign after every sample, so that the offsets
// cancel over time and no floating-point mode needs changing.
template <typename T>
class CUnitProcessorBase {
public:
    CUnitProcessorBase() = default;
    virtual ~CUnitProcessorBase() = default;
    CUnitProcessorBase(const CUnitProcessorBase&) = delete;
    CUnitProcessorBase& operator=(const CUnitProcessorBase&) = delete;

    // Stores the rate; units whose constants depend on it are set again by their owner.
    virtual void setSampleRate(T rate) { sampleRate = rate; }
    virtual T process(T input) = 0;
    // Clears signal state; settings stay.
    virtual void reset() { lastOutput = T(0); }

    T antiDenormal = T(1e-13);
    T pi = T(4.0 * std::atan2(1.0, 1.0));
    T lastOutput = T(0);
    T sampleRate = T(44100);
};

}  // namespace kovalith
