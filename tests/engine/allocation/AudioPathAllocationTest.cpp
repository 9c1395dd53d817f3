// The audio path allocates nothing and asks the host for nothing but the time:
// every allocation function of this program is counted while processReplacing
// runs, and every request the effect sends is recorded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "plugin/Kovalith.h"
#include "effect/Parameters.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void countAllocation() {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}

void* allocate(std::size_t size) {
    countAllocation();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    countAllocation();
    const std::size_t a = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    countAllocation();
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    countAllocation();
    return std::malloc(size ? size : 1);
}
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

// The C allocator is counted too where the sanitizers don't own it.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
    countAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    countAllocation();
    return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    countAllocation();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12;  // ENOMEM
}
}
#endif

namespace {

using namespace kovalith;

std::atomic<int> gRequests{0};
std::atomic<int> gOtherRequests{0};
std::atomic<int> gOtherTimeMasks{0};
std::atomic<bool> gAnswerTime{true};
vst2::VstTimeInfo gTime{};

intptr_t countingHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t value, void*, float) {
    if (opcode == vst2::audioMasterVersion) return 2400;
    if (gCounting.load()) {
        ++gRequests;
        if (opcode != vst2::audioMasterGetTime) ++gOtherRequests;
        else if (value != 0x2E01) ++gOtherTimeMasks;  // position, tempo, bars, signature, transport change
    }
    if (opcode == vst2::audioMasterGetTime && gAnswerTime.load()) return reinterpret_cast<intptr_t>(&gTime);
    return 0;
}

class Counted {
public:
    Counted() { gCounting = true; }
    ~Counted() { gCounting = false; }
};

TEST(AudioPath, ProcessingAllocatesNothingAndOnlyAsksForTheTime) {
    // The allocations of the test itself are outside the counted stretches.
    auto effect = std::make_unique<Kovalith>(countingHost);
    vst2::AEffect* e = effect->getAeffect();
    constexpr int kBlock = 4096;
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int n = 0; n < kBlock; ++n) {
        inL[n] = unit(rng) * 2.0f - 1.0f;
        inR[n] = 0.5f * inL[n];
    }
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    gTime.tempo = 133.0;
    gTime.ppqPos = 0.0;
    gTime.flags = vst2::kVstTempoValid | vst2::kVstPpqPosValid | vst2::kVstTransportPlaying;

    e->dispatcher(e, vst2::effSetSampleRate, 0, 0, nullptr, 48000.0f);
    e->dispatcher(e, vst2::effSetBlockSize, 0, kBlock, nullptr, 0.0f);
    e->dispatcher(e, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);

    long blocks = 0;
    for (int round = 0; round < 120; ++round) {
        // Between blocks, as a host does: programs, automation (menus and shapes
        // included, so tables are rebuilt on the audio thread), resumes, rates.
        if (round % 10 == 0) e->dispatcher(e, vst2::effSetProgram, 0, round / 10 % 5, nullptr, 0.0f);
        for (int k = 0; k < 6; ++k) {
            const int index = std::uniform_int_distribution<int>(0, kNumParams - 1)(rng);
            const ParameterInfo& info = kParameterTable[static_cast<size_t>(index)];
            const float v = info.kind == ParamKind::Continuous
                                ? unit(rng)
                                : static_cast<float>(std::uniform_int_distribution<int>(0, info.menuItems - 1)(rng));
            e->setParameter(e, index, v);
        }
        e->setParameter(e, kNumStages, 1.0f);
        if (round % 17 == 5) {
            e->dispatcher(e, vst2::effMainsChanged, 0, 0, nullptr, 0.0f);
            e->dispatcher(e, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
        }
        if (round % 29 == 7) e->dispatcher(e, vst2::effSetSampleRate, 0, 0, nullptr, round % 2 ? 96000.0f : 44100.0f);
        gAnswerTime = round % 3 != 0;
        const int frames = round % 4 == 0 ? kBlock : 1 + static_cast<int>(unit(rng) * 1000.0f);
        gTime.ppqPos += 0.1;
        {
            Counted counted;
            e->processReplacing(e, in, out, frames);
        }
        ++blocks;
    }
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_EQ(gOtherRequests.load(), 0);
    EXPECT_EQ(gRequests.load(), blocks) << "one time request per block";
    EXPECT_EQ(gOtherTimeMasks.load(), 0);
    for (int n = 0; n < kBlock; ++n) ASSERT_TRUE(std::isfinite(outL[n]) && std::isfinite(outR[n]));
}

TEST(AudioPath, TheCounterSeesAllocations) {
    {
        Counted counted;
        auto p = std::make_unique<std::vector<int>>(100);
        p->push_back(1);
    }
    EXPECT_GT(gAllocations.exchange(0), 0);
#if !defined(__SANITIZE_ADDRESS__)
    {
        Counted counted;
        void* volatile p = std::malloc(64);
        std::free(p);
    }
    EXPECT_EQ(gAllocations.exchange(0), 1) << "the C allocator is counted too";
#endif
}

}  // namespace
