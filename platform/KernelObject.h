// The object behind every HANDLE: a reference-counted holder of one file
// descriptor. Waitable objects (events, semaphores, threads) hold an
// eventfd; files hold the open file. Internal to the platform library.
#pragma once

#include <string>

#include "platform/Sync.h"

#include <atomic>
#include <cstdint>

namespace velmo::detail {

class Object {
public:
    // A new eventfd with the given extra flags.
    explicit Object(unsigned eventFlags);
    // Adopts an open descriptor (closed with the object).
    struct Adopt {};
    Object(int fd, Adopt) : fd_(fd) {}
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Takes the signal if the object is signalled; true when taken.
    virtual bool TryAcquire() = 0;

    void Ref() { ++refs_; }
    void Unref()
    {
        if (--refs_ == 0)
            delete this;
    }

protected:
    void Signal(std::uint64_t n = 1);
    bool Drain();
    bool Readable() const;

private:
    int fd_;
    std::atomic<int> refs_{1};
};

// The object of a handle, or null for a null or invalid handle.
Object* FromHandle(HANDLE h);

// An open file. Serial ports derive from it with reads and writes that keep
// their time-outs. Read and Write set the last error on failure.
class FileObject : public Object {
public:
    explicit FileObject(int fd, std::string path = {}) : Object(fd, Adopt{}), path_(std::move(path)) {}
    bool TryAcquire() override { return true; }
    virtual BOOL Read(void* buffer, DWORD size, DWORD* done);
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* done);
    // The path it was opened by (empty for a serial port).
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// "COM<n>:" (any case): a serial port name.
bool IsSerialName(const std::string& path);
// Opens a serial port by its "COM<n>:" name; INVALID_HANDLE_VALUE and the
// last error on failure.
HANDLE OpenSerial(const std::string& name, DWORD access);

}  // namespace velmo::detail
