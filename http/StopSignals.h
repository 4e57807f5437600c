// velmo-http's end: SIGTERM and SIGINT, taken through the platform's
// console control handler, run the given stop on the platform's signal
// thread instead of ending the process at once.
#pragma once

#include <functional>

namespace velmo::http {

// Must be called before the program starts any thread. False when the
// signals cannot be taken (they then end the program at once).
bool StopOnSignals(std::function<void()> stop);
// Whether a stop signal has come.
bool StopRequested();

}  // namespace velmo::http
