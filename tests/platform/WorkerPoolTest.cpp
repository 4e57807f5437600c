// The bus's worker pool: one client's slow calls never take every thread.
#include "platform/WaitUntil.h"
#include "platform/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

namespace {

TEST(WorkerPool, OneKeyHoldsAtMostItsShareAndOthersRunMeanwhile)
{
    std::atomic<bool> release{false};
    std::atomic<int> running{0}, most{0}, done{0}, others{0};
    std::mutex orderLock;
    std::vector<int> order;
    {
        velmo::detail::WorkerPool pool(4);
        ASSERT_EQ(pool.Share(), 2u);
        for (int i = 0; i < 10; ++i)
            pool.Post(":1.7", [&, i] {
                {
                    std::lock_guard lock(orderLock);
                    order.push_back(i);
                }
                int now = ++running;
                for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                while (!release)
                    std::this_thread::yield();
                --running;
                ++done;
            });
        for (int i = 0; i < 3; ++i)
            pool.Post(":1.8", [&] { ++others; });
        EXPECT_TRUE(WaitUntil([&] { return others == 3; })) << "the other client waited for the slow one";
        // The key's second job may start a moment after the other key's jobs ran.
        EXPECT_TRUE(WaitUntil([&] { return most == 2; })) << "the key has its share of two running";
        release = true;
    }  // Stop runs what was posted
    EXPECT_EQ(done.load(), 10);
    EXPECT_EQ(most.load(), 2);
    // One key's jobs start in the order they came: the first two first.
    ASSERT_EQ(order.size(), 10u);
    EXPECT_EQ(std::min(order[0], order[1]), 0);
    EXPECT_EQ(std::max(order[0], order[1]), 1);
}

}  // namespace
