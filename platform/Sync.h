// Waitable objects: events, semaphores and threads, and the waits on them.
//
// A HANDLE names a kernel-backed object (an eventfd). Waits block in poll,
// never by spinning. WaitForMultipleObjects waits for any one object; when
// several are signalled the lowest index wins, and an auto-reset event or a
// semaphore count is consumed only by the wait that returns it. A thread's
// handle becomes signalled when the thread ends. There is no limit of 64
// handles per wait. A thread cannot be terminated safely on Linux:
// TerminateThread abandons it (the handle is signalled with the given exit
// code and the thread runs on detached); a process that abandoned a thread
// should end with velmo::ExitProcess, which skips static destructors then.
#pragma once

#include "platform/Types.h"

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD CREATE_SUSPENDED = 0x4;

using LPTHREAD_START_ROUTINE = DWORD (*)(void* param);

VELMO_PLATFORM_API DWORD GetLastError();
VELMO_PLATFORM_API void SetLastError(DWORD code);

// name must be null; security attributes are ignored.
VELMO_PLATFORM_API HANDLE CreateEventW(const void* security, BOOL manualReset, BOOL initialState, LPCWSTR name);
VELMO_PLATFORM_API BOOL SetEvent(HANDLE event);
VELMO_PLATFORM_API BOOL ResetEvent(HANDLE event);
VELMO_PLATFORM_API HANDLE CreateSemaphoreW(const void* security, LONG initialCount, LONG maximumCount, LPCWSTR name);
// Fails with ERROR_TOO_MANY_POSTS when the count would pass the maximum; nothing is released then.
VELMO_PLATFORM_API BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
VELMO_PLATFORM_API HANDLE CreateThread(const void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                                       void* param, DWORD flags, DWORD* threadId);
// Returns the previous suspend count, or (DWORD)-1 on failure.
VELMO_PLATFORM_API DWORD ResumeThread(HANDLE thread);
VELMO_PLATFORM_API BOOL TerminateThread(HANDLE thread, DWORD exitCode);
VELMO_PLATFORM_API DWORD GetCurrentThreadId();
// The id of this process (its pid).
VELMO_PLATFORM_API DWORD GetCurrentProcessId();
VELMO_PLATFORM_API BOOL CloseHandle(HANDLE handle);
VELMO_PLATFORM_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// waitAll is not offered: it fails with ERROR_NOT_SUPPORTED.
VELMO_PLATFORM_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
VELMO_PLATFORM_API void Sleep(DWORD milliseconds);

namespace velmo {

// Waits for the object, or for the descriptor fd (a socket; -1 for none)
// to have something to read or to be closed: WAIT_OBJECT_0 for the object
// (which wins when both are ready), WAIT_OBJECT_0 + 1 for the descriptor,
// WAIT_TIMEOUT, or WAIT_FAILED with GetLastError.
VELMO_PLATFORM_API DWORD WaitForObjectOrReadable(HANDLE handle, int fd, DWORD milliseconds);

// Owns one handle and closes it.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    Handle& operator=(Handle&& o) noexcept
    {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }
    ~Handle() { reset(); }
    void reset()
    {
        if (h_)
            CloseHandle(h_);
        h_ = nullptr;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HANDLE h_ = nullptr;
};

// exit(code), or _exit(code) after flushing the standard streams when a
// thread was abandoned, so no static destructor runs under a live thread.
[[noreturn]] VELMO_PLATFORM_API void ExitProcess(int code);

}  // namespace velmo
