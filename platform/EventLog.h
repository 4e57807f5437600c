// The event log on Linux: syslog, with a console mirror for /DEBUG runs.
//
// RegisterEventSourceW opens a source named after the service; ReportEventW
// writes one entry to syslog (ident = the source name, facility daemon;
// error, warning and information become LOG_ERR, LOG_WARNING, LOG_INFO).
// The text shown is the first insertion string followed by a period, as the
// message table "%1." would show it. With the console mirror on, each entry
// is also written to standard error as one line
// "<source>: <error|warning|information>: <text>.".
#pragma once

#include "platform/Sync.h"

#include <string>
#include <string_view>

constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

// server must be null (the local machine). Null on failure.
VELMO_PLATFORM_API HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
VELMO_PLATFORM_API BOOL ReportEventW(HANDLE source, WORD type, WORD category, DWORD eventId, void* userSid,
                                     WORD numStrings, DWORD dataSize, LPCWSTR* strings, void* rawData);
VELMO_PLATFORM_API BOOL DeregisterEventSource(HANDLE source);

namespace velmo {
VELMO_PLATFORM_API void SetEventLogConsoleMirror(bool on);
// The line as the event log shows it: the text with its control characters
// escaped (EscapeControls) and a period.
VELMO_PLATFORM_API std::string EventText(std::u16string_view insertion);
// One event with utf8 as its only insertion string, cut to 2047 characters,
// through RegisterEventSourceW, ReportEventW and DeregisterEventSource; an
// event that cannot be written is lost silently (there is nowhere else to
// report it).
VELMO_PLATFORM_API void ReportEventText(std::u16string_view source, WORD type, std::string_view utf8);
// A line for whoever reads the log at the debug priority (journalctl -p
// debug): what the event log has no type for. Syslog's LOG_DEBUG, and
// "<source>: debug: <text>." on the console mirror.
VELMO_PLATFORM_API void ReportDebugText(std::u16string_view source, std::string_view utf8);
}  // namespace velmo
