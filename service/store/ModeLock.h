// A lock with modes: any number of holders of one mode share it, and a
// thread asking for another mode waits until the last holder has left.
// Mode 1 is taken for visits of the device table and rules (dispatching,
// starting and stopping devices), mode 2 for changes, mode 3 for the
// dispatcher's destruction. Entering and leaving are atomic with respect to
// other entrants. ModeLock::Hold is the scoped form.
#pragma once

#include <condition_variable>
#include <mutex>

namespace velmo::store {

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

} // namespace velmo::store
