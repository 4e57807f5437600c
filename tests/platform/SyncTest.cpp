#include "platform/Sync.h"

#include <atomic>
#include <unistd.h>
#include <chrono>
#include <gtest/gtest.h>
#include <vector>

namespace {

using velmo::Handle;
using Clock = std::chrono::steady_clock;

long long ElapsedMs(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Sync, LowestSignalledIndexWinsAndAutoResetIsConsumed)
{
    Handle stop(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Handle queue(CreateSemaphoreW(nullptr, 0, 16384, nullptr));
    Handle own(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HANDLE all[] = {stop.get(), queue.get(), own.get()};
    ASSERT_TRUE(ReleaseSemaphore(queue.get(), 2, nullptr));
    ASSERT_TRUE(SetEvent(own.get()));
    ASSERT_TRUE(SetEvent(stop.get()));
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 0);
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1) << "the stop event was consumed";
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2) << "the semaphore held two counts";
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);
}

TEST(Sync, ManualResetStaysSignalledUntilReset)
{
    Handle e(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(e.get()));
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT);
    SetEvent(e.get());
    SetEvent(e.get());
    ResetEvent(e.get());
    EXPECT_EQ(WaitForSingleObject(e.get(), 0), WAIT_TIMEOUT) << "setting twice is still one reset away";
}

TEST(Sync, SemaphoreRefusesToPassItsMaximum)
{
    Handle s(CreateSemaphoreW(nullptr, 1, 3, nullptr));
    LONG prev = -1;
    ASSERT_TRUE(ReleaseSemaphore(s.get(), 2, &prev));
    EXPECT_EQ(prev, 1);
    EXPECT_FALSE(ReleaseSemaphore(s.get(), 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(s.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(s.get(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseSemaphore(s.get(), 3, &prev)) << "taken counts may be released again";
    EXPECT_EQ(prev, 0);
    EXPECT_EQ(CreateSemaphoreW(nullptr, 4, 3, nullptr), nullptr);
}

DWORD Worker(void* p)
{
    auto* flag = static_cast<std::atomic<int>*>(p);
    flag->store(1);
    return 42;
}

TEST(Sync, SuspendedThreadRunsOnResumeAndItsHandleSignalsAtTheEnd)
{
    std::atomic<int> ran{0};
    DWORD id = 0;
    Handle t(CreateThread(nullptr, 0, Worker, &ran, CREATE_SUSPENDED, &id));
    ASSERT_TRUE(t);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(t.get(), 50), WAIT_TIMEOUT);
    EXPECT_EQ(ran.load(), 0) << "a suspended thread must not run";
    EXPECT_EQ(ResumeThread(t.get()), 1u);
    EXPECT_EQ(WaitForSingleObject(t.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(WaitForSingleObject(t.get(), 0), WAIT_OBJECT_0) << "a thread handle stays signalled";
}

TEST(Sync, TimeoutsAreKept)
{
    Handle e(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    for (DWORD ms : {20u, 120u}) {
        auto start = Clock::now();
        EXPECT_EQ(WaitForSingleObject(e.get(), ms), WAIT_TIMEOUT);
        long long took = ElapsedMs(start);
        EXPECT_GE(took, ms);
        EXPECT_LE(took, ms + 15);
    }
}

DWORD SetLater(void* p)
{
    Sleep(30);
    SetEvent(static_cast<HANDLE>(p));
    return 0;
}

TEST(Sync, WaiterWakesWhenAnotherThreadSignals)
{
    Handle e(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    auto start = Clock::now();
    Handle t(CreateThread(nullptr, 0, SetLater, e.get(), 0, nullptr));
    EXPECT_EQ(WaitForSingleObject(e.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_LE(ElapsedMs(start), 1000);
    EXPECT_EQ(WaitForSingleObject(t.get(), 5000), WAIT_OBJECT_0);
}

TEST(Sync, MoreThanSixtyFourHandles)
{
    std::vector<Handle> events;
    std::vector<HANDLE> raw;
    for (int i = 0; i < 200; ++i) {
        events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        raw.push_back(events.back().get());
    }
    SetEvent(raw[150]);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(raw.size()), raw.data(), FALSE, 0), WAIT_OBJECT_0 + 150);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(raw.size()), raw.data(), TRUE, 0), WAIT_FAILED);
}

}  // namespace

namespace {

TEST(Sync, AnObjectOrAReadableDescriptorEndsTheWaitTheObjectFirst)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, fds[0], 20), WAIT_TIMEOUT);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, -1, 20), WAIT_TIMEOUT) << "no descriptor at all";
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, fds[0], 1000), WAIT_OBJECT_0 + 1);
    SetEvent(event);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, fds[0], 1000), WAIT_OBJECT_0) << "the object wins";
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, -1, 1000), WAIT_OBJECT_0);
    ResetEvent(event);
    close(fds[1]);
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(event, fds[0], 1000), WAIT_OBJECT_0 + 1) << "a closed writer ends it";
    close(fds[0]);
    EXPECT_EQ(velmo::WaitForObjectOrReadable(nullptr, -1, 10), WAIT_FAILED);
    CloseHandle(event);
}

}  // namespace
