// Work a thread's message loop serves besides its messages. Internal to the
// platform library: the automation bus attaches its connection to the
// thread that registers the first class object, so client calls arrive
// through that thread's GetMessageW loop.
//
// While GetMessageW waits, it polls each attached source's descriptors
// together with the queue and then calls Serve on every source. Serve runs
// on the loop's thread and must not block.
#pragma once

#include "platform/Types.h"

#include <poll.h>
#include <vector>

namespace velmo::detail {

class MessageSource {
public:
    virtual ~MessageSource() = default;
    // Adds the descriptors to wait for; returns the longest wait in
    // milliseconds before Serve is due anyway (-1: no limit).
    virtual int Prepare(std::vector<pollfd>& fds) = 0;
    virtual void Serve() = 0;
};

// The source stays attached until detached; the caller keeps it alive.
void AttachMessageSource(DWORD threadId, MessageSource* source);
void DetachMessageSource(DWORD threadId, MessageSource* source);

}  // namespace velmo::detail
