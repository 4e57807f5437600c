// The main loop of a thread that serves the automation bus: the one wait of
// a daemon's main thread.
//
// RunMainLoop serves the bus sources attached to the calling thread (the
// connection of the classes it registered, LoopSource.h) until the loop is
// asked to quit, the bus is lost, or the time given passes. A quit asked
// for before the loop runs is kept, so it is never lost; each quit and each
// loss is reported once.
#pragma once

#include "platform/Sync.h"

namespace velmo {

enum class LoopEvent {
    Quit,      // QuitMainLoop was called for this thread
    BusLost,   // the bus connection of the classes this thread registered is gone
    TimedOut,  // the time given passed
    Failed,    // waiting itself failed
};

// timeoutMs: how long to serve at most; negative: no limit, 0: only what
// is due now.
VELMO_PLATFORM_API LoopEvent RunMainLoop(int timeoutMs);
// Asks the loop of the thread to end. False for thread id 0.
VELMO_PLATFORM_API bool QuitMainLoop(DWORD threadId);

}  // namespace velmo
