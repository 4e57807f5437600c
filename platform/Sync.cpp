#include "platform/Sync.h"

#include "platform/KernelObject.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using velmo::detail::FromHandle;
using velmo::detail::Object;

thread_local DWORD t_lastError = 0;
std::atomic<int> g_abandoned{0};

class Event final : public Object {
public:
    Event(bool manual, bool initial) : Object(0), manual_(manual)
    {
        if (initial && ok())
            Set();
    }
    void Set()
    {
        std::lock_guard lock(mu_);
        if (!Readable())
            Signal();
    }
    void Reset()
    {
        std::lock_guard lock(mu_);
        Drain();
    }
    bool TryAcquire() override
    {
        if (manual_)
            return Readable();
        std::lock_guard lock(mu_);
        return Drain();
    }

private:
    bool manual_;
    std::mutex mu_;
};

class Semaphore final : public Object {
public:
    Semaphore(LONG initial, LONG maximum) : Object(EFD_SEMAPHORE), count_(initial), max_(maximum)
    {
        if (initial > 0 && ok())
            Signal(static_cast<std::uint64_t>(initial));
    }
    bool Release(LONG n, LONG* previous)
    {
        std::lock_guard lock(mu_);
        if (n <= 0 || static_cast<long long>(count_) + n > max_)
            return false;
        if (previous)
            *previous = count_;
        count_ += n;
        Signal(static_cast<std::uint64_t>(n));
        return true;
    }
    bool TryAcquire() override
    {
        std::lock_guard lock(mu_);
        if (!Drain())
            return false;
        --count_;
        return true;
    }

private:
    std::mutex mu_;
    LONG count_;
    LONG max_;
};

class Thread final : public Object {
public:
    Thread() : Object(0) {}
    bool TryAcquire() override { return Readable(); }

    void Finish(DWORD code)
    {
        std::lock_guard lock(mu_);
        if (ended_)
            return;
        ended_ = true;
        exitCode_ = code;
        Signal();
    }
    bool Ended()
    {
        std::lock_guard lock(mu_);
        return ended_;
    }
    DWORD Resume()
    {
        std::lock_guard lock(mu_);
        DWORD prev = suspended_;
        if (suspended_ > 0 && --suspended_ == 0)
            cv_.notify_all();
        return prev;
    }
    void WaitUntilResumed()
    {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [this] { return suspended_ == 0; });
    }
    void SetSuspended(bool s) { suspended_ = s ? 1 : 0; }
    void SetId(DWORD id)
    {
        std::lock_guard lock(mu_);
        id_ = id;
        cv_.notify_all();
    }
    DWORD WaitForId()
    {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [this] { return id_ != 0; });
        return id_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    DWORD suspended_ = 0;
    bool ended_ = false;
    DWORD exitCode_ = 0;
    DWORD id_ = 0;
};

template <class T>
T* As(HANDLE h)
{
    return dynamic_cast<T*>(velmo::detail::FromHandle(h));
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

HANDLE CreateEventW(const void*, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto* e = new Event(manualReset != FALSE, initialState != FALSE);
    if (!e->ok()) {
        e->Unref();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<Object*>(e);
}

BOOL SetEvent(HANDLE event)
{
    auto* e = As<Event>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    auto* e = As<Event>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Reset();
    return TRUE;
}

HANDLE CreateSemaphoreW(const void*, LONG initialCount, LONG maximumCount, LPCWSTR name)
{
    if (name || maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* s = new Semaphore(initialCount, maximumCount);
    if (!s->ok()) {
        s->Unref();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<Object*>(s);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount)
{
    auto* s = As<Semaphore>(semaphore);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!s->Release(releaseCount, previousCount)) {
        SetLastError(releaseCount <= 0 ? ERROR_INVALID_PARAMETER : ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    return TRUE;
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateThread(const void*, std::size_t, LPTHREAD_START_ROUTINE start, void* param, DWORD flags, DWORD* threadId)
{
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* t = new Thread();
    if (!t->ok()) {
        t->Unref();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->SetSuspended((flags & CREATE_SUSPENDED) != 0);
    t->Ref();  // the running thread's own reference
    try {
        std::thread th([t, start, param] {
            t->SetId(GetCurrentThreadId());
            t->WaitUntilResumed();
            DWORD code = start(param);
            t->Finish(code);
            t->Unref();
        });
        th.detach();
    } catch (...) {
        t->Unref();
        t->Unref();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id = t->WaitForId();
    if (threadId)
        *threadId = id;
    return static_cast<Object*>(t);
}

DWORD ResumeThread(HANDLE thread)
{
    auto* t = As<Thread>(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    return t->Resume();
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode)
{
    auto* t = As<Thread>(thread);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!t->Ended()) {
        ++g_abandoned;
        t->Finish(exitCode);
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    Object* o = velmo::detail::FromHandle(handle);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    o->Unref();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

namespace {

// Waits for any of the objects, or for fd (-1: none) to be readable, which
// counts as the object after the last.
DWORD WaitAny(DWORD count, const HANDLE* handles, int fd, DWORD milliseconds)
{
    std::vector<Object*> objects(count);
    std::vector<pollfd> fds(count);
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = FromHandle(handles[i]);
        if (!objects[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        fds[i] = pollfd{objects[i]->fd(), POLLIN, 0};
    }
    if (fd >= 0)
        fds.push_back(pollfd{fd, POLLIN, 0});
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds == INFINITE ? 0 : milliseconds);
    while (true) {
        for (DWORD i = 0; i < count; ++i)
            if (objects[i]->TryAcquire())
                return WAIT_OBJECT_0 + i;
        if (fd >= 0 && (fds.back().revents & (POLLIN | POLLHUP | POLLERR)))
            return WAIT_OBJECT_0 + count;
        int timeout = -1;
        if (milliseconds != INFINITE) {
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return WAIT_TIMEOUT;
            timeout = static_cast<int>((left + 999) / 1000);
        }
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Signalled, readable or timed out: the loop takes the lowest
        // signalled object, then the descriptor, or finds the deadline passed.
    }
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (waitAll) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    if (count == 0 || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitAny(count, handles, -1, milliseconds);
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == INFINITE) {
        while (true)
            pause();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace velmo {

DWORD WaitForObjectOrReadable(HANDLE handle, int fd, DWORD milliseconds)
{
    return WaitAny(1, &handle, fd, milliseconds);
}

void ExitProcess(int code)
{
    if (g_abandoned > 0) {
        std::fflush(nullptr);
        _exit(code);
    }
    std::exit(code);
}

}  // namespace velmo
