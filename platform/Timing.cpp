#include "platform/Timing.h"

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

}  // namespace velmo
