// The messages that wait for room: queued messages no device could take
// when they were dispatched, because the queue of the device their rules
// chose was full. Only their ids are kept, in the order they were refused;
// each message's file stays queued in the store, so a restart finds it
// there as well. The dispatcher takes them again, oldest first, whenever
// a device reports a message (and so has room), and at every pickup scan.
//
// Thread-safe; Take runs one caller at a time and others return at once.
#pragma once

#include "platform/Guid.h"

#include <deque>
#include <functional>
#include <mutex>

namespace velmo::queue {

class RoomQueue {
public:
    // The message waits; it is taken after those that wait already.
    void Park(const GUID& id);
    // Offers the waiting messages to handOn, oldest first, while it takes
    // them (true). The first one it refuses stays first, and the rest wait
    // behind it. Returns at once when another call is taking already.
    void Take(const std::function<bool(const GUID&)>& handOn);
    // How many messages wait now.
    std::size_t Size() const;

private:
    mutable std::mutex lock_;
    std::deque<GUID> waiting_;
    std::mutex taking_;
};

}  // namespace velmo::queue
