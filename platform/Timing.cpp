#include "platform/Timing.h"

#include <chrono>
#include <cstdlib>

namespace velmo {

namespace {
DWORD ReadDivisor()
{
    const char* text = std::getenv("VELMO_TEST_TIME_DIVISOR");
    if (!text || !*text)
        return 1;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end || value < 1 || value > 1000)
        return 1;
    return static_cast<DWORD>(value);
}
}  // namespace

DWORD DesignWait(DWORD milliseconds)
{
    static const DWORD divisor = ReadDivisor();
    if (milliseconds == 0 || divisor == 1)
        return milliseconds;
    DWORD scaled = milliseconds / divisor;
    return scaled ? scaled : 1;
}

std::int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t WallClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace velmo
