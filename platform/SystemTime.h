// SYSTEMTIME and its conversion to automation dates.
//
// An automation date (DATE) counts days since 1899-12-30 00:00; the fraction
// is the time of day, and for dates before the epoch the fraction still
// counts forward from midnight (-1.25 is 1899-12-29 06:00). As on Windows,
// SystemTimeToVariantTime ignores milliseconds and VariantTimeToSystemTime
// rounds to the nearest second; both accept years 100 to 9999 and return
// FALSE for anything out of range.
#pragma once

#include "platform/Types.h"

#include <string>

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// The current time in UTC.
VELMO_PLATFORM_API void GetSystemTime(SYSTEMTIME* st);
// A UTC time as local time (the time zone argument is ignored: the machine's zone is used).
VELMO_PLATFORM_API BOOL SystemTimeToTzSpecificLocalTime(const void* timeZone, const SYSTEMTIME* utc, SYSTEMTIME* local);
VELMO_PLATFORM_API INT SystemTimeToVariantTime(const SYSTEMTIME* st, DOUBLE* date);
VELMO_PLATFORM_API INT VariantTimeToSystemTime(DOUBLE date, SYSTEMTIME* st);

namespace velmo {
// "2026-12-09T01:20:15Z", ISO 8601 in UTC as scripts and JSON expect it, for
// a time held in UTC; "" for a time never set (year 0).
VELMO_PLATFORM_API std::string IsoDate(const SYSTEMTIME& utc);
}  // namespace velmo
