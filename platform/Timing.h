// The system's fixed waits (the pickup scan, modem replies, restart windows,
// open retries) pass through DesignWait, so tests can shorten them all at
// once and nothing else can.
//
// VELMO_TEST_TIME_DIVISOR, a test-only environment variable, divides every
// fixed wait by its value (an integer from 1 to 1000; anything else is
// ignored). It is read once per process. It is never set in production and
// no configuration file can set it.
#pragma once

#include "platform/Types.h"

#include <cstdint>

namespace velmo {
// milliseconds divided by the test divisor (at least 1 ms when it was not 0).
VELMO_PLATFORM_API DWORD DesignWait(DWORD milliseconds);

// Milliseconds on the monotonic clock, for measuring waits and intervals
// inside one process: never set back, meaningless across processes.
VELMO_PLATFORM_API std::int64_t SteadyMs();
// Milliseconds since 1970-01-01 UTC on the wall clock, for times kept in
// files that outlive the process; it may jump when the clock is set.
VELMO_PLATFORM_API std::int64_t WallClockMs();
}  // namespace velmo
