// SIGINT and SIGTERM as a request to stop in order, for a program that runs
// in the foreground (velmosvc /DEBUG, velmo-http).
//
// OnStopSignals blocks both signals in the calling thread, so it must be
// called before the program starts other threads (they inherit the mask);
// the function runs on a thread of the layer, once per signal, and must
// return quickly.
#pragma once

#include "platform/Types.h"

#include <functional>

namespace velmo {

enum class StopSignal { Interrupt, Terminate };  // SIGINT, SIGTERM

// From now on the signals run onStop (the last one given) instead of ending
// the process. False when they cannot be taken (they then end the program
// at once).
VELMO_PLATFORM_API bool OnStopSignals(std::function<void(StopSignal)> onStop);

}  // namespace velmo
