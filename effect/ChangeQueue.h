// A bounded lock-free multi-producer multi-consumer queue (the sequence-
// numbered ring of D. Vyukov) that carries parameter changes to the audio
// thread. Its storage is allocated once at construction; push and pop never
// allocate, never block and never wait: push answers false when the ring is
// full, pop answers false when it is empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "engine/ParameterIds.h"

namespace kovalith {

// One change as the audio thread replays it: count consecutive parameters from
// firstIndex (1 for a single setParameter, all 67 for a whole program).
struct ParameterChange {
    int32_t firstIndex = 0;
    int32_t count = 0;
    float values[kNumParams];
    float engValues[kNumParams];
};

template <typename T>
class CChangeQueue {
    static_assert(std::is_trivially_copyable<T>::value, "entries are copied in and out");

public:
    // capacity is rounded up to a power of two. If the storage cannot be
    // allocated the queue has no room: every push answers false.
    explicit CChangeQueue(std::size_t capacity) {
        std::size_t size = 1;
        while (size < capacity) size <<= 1;
        cells_.reset(new (std::nothrow) Cell[size]);
        if (!cells_) return;
        mask_ = size - 1;
        for (std::size_t i = 0; i < size; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
    }
    CChangeQueue(const CChangeQueue&) = delete;
    CChangeQueue& operator=(const CChangeQueue&) = delete;

    std::size_t capacity() const { return cells_ ? mask_ + 1 : 0; }

    bool push(const T& item) {
        if (!cells_) return false;
        Cell* cell;
        std::size_t pos = enqueuePos_.load(std::memory_order_relaxed);
        for (;;) {
            cell = &cells_[pos & mask_];
            const std::size_t seq = cell->sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
            if (diff == 0) {
                if (enqueuePos_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
            } else if (diff < 0) {
                return false;  // full: the slot still holds an entry one lap behind
            } else {
                pos = enqueuePos_.load(std::memory_order_relaxed);
            }
        }
        cell->item = item;
        cell->sequence.store(pos + 1, std::memory_order_release);
        return true;
    }

    bool pop(T& item) {
        if (!cells_) return false;
        Cell* cell;
        std::size_t pos = dequeuePos_.load(std::memory_order_relaxed);
        for (;;) {
            cell = &cells_[pos & mask_];
            const std::size_t seq = cell->sequence.load(std::memory_order_acquire);
            const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos + 1);
            if (diff == 0) {
                if (dequeuePos_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
            } else if (diff < 0) {
                return false;  // empty, or the producer of this slot has not finished writing
            } else {
                pos = dequeuePos_.load(std::memory_order_relaxed);
            }
        }
        item = cell->item;
        cell->sequence.store(pos + mask_ + 1, std::memory_order_release);
        return true;
    }

private:
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        T item;
    };

    std::unique_ptr<Cell[]> cells_;
    std::size_t mask_ = 0;
    // Producers and the consumer on separate cache lines.
    alignas(64) std::atomic<std::size_t> enqueuePos_{0};
    alignas(64) std::atomic<std::size_t> dequeuePos_{0};
};

}  // namespace kovalith
