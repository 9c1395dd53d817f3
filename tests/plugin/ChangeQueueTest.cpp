// The bounded MPMC ring that carries changes to the audio thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "effect/ChangeQueue.h"

namespace {

using kovalith::CChangeQueue;

TEST(ChangeQueue, FifoWithinCapacityThenRefuses) {
    CChangeQueue<int> queue(5);  // rounded up to 8
    EXPECT_EQ(queue.capacity(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(queue.push(i));
    EXPECT_FALSE(queue.push(99));
    int value = -1;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(queue.pop(value));
        EXPECT_EQ(value, i);
    }
    EXPECT_FALSE(queue.pop(value));
    // Wraps around any number of laps.
    for (int lap = 0; lap < 100; ++lap) {
        EXPECT_TRUE(queue.push(lap));
        ASSERT_TRUE(queue.pop(value));
        EXPECT_EQ(value, lap);
    }
}

TEST(ChangeQueue, ProducersOnSeveralThreadsLoseAndDuplicateNothing) {
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 20000;
    CChangeQueue<int> queue(64);
    std::atomic<int> done{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i)
                while (!queue.push(p * kPerProducer + i)) std::this_thread::yield();
            done.fetch_add(1);
        });
    std::vector<int> seen(kProducers * kPerProducer, 0);
    std::vector<int> lastOfProducer(kProducers, -1);
    int received = 0;
    int value;
    while (received < kProducers * kPerProducer) {
        if (!queue.pop(value)) {
            std::this_thread::yield();
            continue;
        }
        ++seen[static_cast<size_t>(value)];
        // Each producer's entries arrive in the order it pushed them.
        const int producer = value / kPerProducer;
        EXPECT_GT(value, lastOfProducer[static_cast<size_t>(producer)]);
        lastOfProducer[static_cast<size_t>(producer)] = value;
        ++received;
    }
    for (auto& thread : producers) thread.join();
    EXPECT_FALSE(queue.pop(value));
    for (int count : seen) ASSERT_EQ(count, 1);
}

}  // namespace
