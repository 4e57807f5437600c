// A lock with modes: mode 1 is shared by any number of holders, modes 2 and
// 3 are held by one at a time, and a thread asking for a mode the lock
// cannot give now waits until the last holder has left. Mode 1 is taken for
// visits of the device table and rules (dispatching, starting and stopping
// devices), mode 2 for changes, mode 3 for the dispatcher's destruction.
// Not re-entrant: a holder never asks again. Entering and leaving are atomic
// with respect to other entrants. ModeLock::Hold is the scoped form.
#pragma once

#include <condition_variable>
#include <mutex>

namespace velmo::devices {

class ModeLock {
public:
    void Enter(int mode);
    void Leave();

    class Hold {
    public:
        Hold(ModeLock& lock, int mode) : lock_(lock) { lock_.Enter(mode); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { lock_.Leave(); }

    private:
        ModeLock& lock_;
    };

private:
    std::mutex mu_;
    std::condition_variable changed_;
    int mode_ = 0;
    int holders_ = 0;
};

}  // namespace velmo::devices
