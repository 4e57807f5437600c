#include "platform/SystemTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool IsLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long long y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// 1899-12-30, day 0 of automation dates.
const long long kEpochDays = DaysFromCivil(1899, 12, 30);
constexpr double kMinDate = -657434.0;         // 0100-01-01
constexpr double kMaxDate = 2958465.99999999;  // 9999-12-31 23:59:59

void FromTm(const std::tm& tm, long nsec, SYSTEMTIME* st)
{
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    st->wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(nsec / 1000000);
}

}  // namespace

void GetSystemTime(SYSTEMTIME* st)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    gmtime_r(&ts.tv_sec, &tm);
    FromTm(tm, ts.tv_nsec, st);
}

BOOL SystemTimeToTzSpecificLocalTime(const void*, const SYSTEMTIME* utc, SYSTEMTIME* local)
{
    if (!utc || !local || utc->wMonth < 1 || utc->wMonth > 12 || utc->wDay < 1 ||
        utc->wDay > DaysInMonth(utc->wYear, utc->wMonth))
        return FALSE;
    long long days = DaysFromCivil(utc->wYear, utc->wMonth, utc->wDay);
    std::time_t t = static_cast<std::time_t>(days * 86400 + utc->wHour * 3600 + utc->wMinute * 60 + utc->wSecond);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return FALSE;
    FromTm(tm, static_cast<long>(utc->wMilliseconds) * 1000000, local);
    return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* st, DOUBLE* date)
{
    if (!st || !date)
        return FALSE;
    if (st->wYear < 100 || st->wYear > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59)
        return FALSE;
    double days = static_cast<double>(DaysFromCivil(st->wYear, st->wMonth, st->wDay) - kEpochDays);
    double frac = (st->wHour * 3600.0 + st->wMinute * 60.0 + st->wSecond) / 86400.0;
    // Before the epoch the whole part counts back, the fraction forward.
    *date = days >= 0 ? days + frac : days - frac;
    return TRUE;
}

INT VariantTimeToSystemTime(DOUBLE date, SYSTEMTIME* st)
{
    if (!st || std::isnan(date) || date < kMinDate || date > kMaxDate)
        return FALSE;
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    long long seconds = std::llround(frac * 86400.0);
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) {
        // Rounded up to the next midnight, which is the next calendar day
        // whichever side of the epoch the date lies.
        seconds -= 86400;
        day += 1;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(day + kEpochDays, y, m, d);
    long long z = day + kEpochDays;
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>(((z % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
    st->wHour = static_cast<WORD>(seconds / 3600);
    st->wMinute = static_cast<WORD>((seconds / 60) % 60);
    st->wSecond = static_cast<WORD>(seconds % 60);
    st->wMilliseconds = 0;
    return TRUE;
}

namespace velmo {

std::string IsoDate(const SYSTEMTIME& t)
{
    if (t.wYear == 0)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

}  // namespace velmo
