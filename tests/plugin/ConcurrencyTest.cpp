// Smoke test of the hand-over: one thread changes parameters, programs and
// chunks while another processes. Run under the sanitizer builds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "plugin/Kovalith.h"
#include "tests/ControllerEvent.h"

namespace {

using namespace kovalith;

intptr_t quietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

TEST(Concurrency, EditingWhileProcessingStaysCleanAndConverges) {
    auto effect = std::make_unique<Kovalith>(quietHost);
    std::vector<uint8_t> bank;
    {
        void* data = nullptr;
        const int32_t size = effect->getChunk(&data, false);
        ASSERT_EQ(size, 24576);
        const auto* bytes = static_cast<const uint8_t*>(data);
        bank.assign(bytes, bytes + size);
    }
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        constexpr int kFrames = 64;
        std::vector<float> inL(kFrames, 0.1f), inR(kFrames, -0.1f), outL(kFrames), outR(kFrames);
        float* in[] = {inL.data(), inR.data()};
        float* out[] = {outL.data(), outR.data()};
        testevents::ControllerEvent cc(0xB0, 1);
        int block = 0;
        while (!stop.load()) {
            cc.setValue(block++ & 127);
            effect->processEvents(cc.events());
            effect->processReplacing(in, out, kFrames);
            for (float sample : outL) ASSERT_TRUE(std::isfinite(sample));
        }
    });
    for (int round = 0; round < 300; ++round) {
        effect->setParameter(kLearnCommandBase + kFeedback, 0.0f);
        for (int i = 0; i < kNumParams; ++i) effect->setParameter(i, static_cast<float>((i + round) % 10) * 0.1f);
        effect->setProgram(round % kNumPrograms);
        if (round % 7 == 0) {
            EXPECT_EQ(effect->setChunk(bank.data(), static_cast<int32_t>(bank.size()), false), 1);
        }
        if (round % 11 == 0) {
            void* data = nullptr;
            const int32_t size = effect->getChunk(&data, true);
            std::vector<uint8_t> record(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
            effect->setChunk(record.data(), size, true);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    stop = true;
    audio.join();
    // Once the audio thread is gone the engine catches up with the last state.
    effect->setProgram(1);
    effect->applyPendingChanges();
    EXPECT_EQ(effect->getParameter(kDelayStereoMult), 0.25f);  // item 3 of 13, as the host sees it
    EXPECT_EQ(effect->getEngineeringValue(kDelayStereoMult), 0.5f);
}

}  // namespace
