// Work a thread's main loop serves besides its quit. Internal to the
// platform library: the automation bus attaches its connection to the
// thread that registers the first class object, so client calls arrive
// through that thread's RunMainLoop.
//
// While RunMainLoop waits, it polls each attached source's descriptors
// together with the thread's own event and then calls Serve on every
// source. Serve runs on the loop's thread and must not block.
#pragma once

#include "platform/Types.h"

#include <poll.h>
#include <vector>

namespace velmo::detail {

class LoopSource {
public:
    virtual ~LoopSource() = default;
    // Adds the descriptors to wait for; returns the longest wait in
    // milliseconds before Serve is due anyway (-1: no limit).
    virtual int Prepare(std::vector<pollfd>& fds) = 0;
    virtual void Serve() = 0;
};

// The source stays attached until detached; the caller keeps it alive.
void AttachLoopSource(DWORD threadId, LoopSource* source);
void DetachLoopSource(DWORD threadId, LoopSource* source);
// Tells the loop of the thread that the bus of its classes is lost.
void NotifyBusLost(DWORD threadId);

}  // namespace velmo::detail
