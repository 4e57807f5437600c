// Where a part of the service reports what an administrator should read:
// the service's event log (the journal), or whatever a test puts in its
// place. Every part that logs is given one at construction.
//
// An event is one text and one of the types EVENTLOG_ERROR_TYPE,
// EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE; the event log keeps its
// first 2047 characters. Reporting never fails and never throws; a sink
// that cannot write drops the event.
#pragma once

#include "platform/EventLog.h"
#include "platform/Unknown.h"

#include <string>

namespace velmo::events {

class EventSink {
public:
    virtual ~EventSink() = default;

    // One event, its text whole.
    virtual void Report(WORD type, const std::string& text) = 0;

    // One event, the text formatted with printf rules (UTF-8 arguments).
    void LogEvent(WORD type, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // "<call> failed: <description>" when object supports error information
    // and the thread holds a readable error object, else
    // "<call> failed with code 0x%08X".
    void LogCallFailure(WORD type, HRESULT hr, IUnknown* object, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
};

// The text LogCallFailure reports, for a caller that decides itself
// whether to report it. Takes the thread's error object as LogCallFailure does.
std::string CallFailureText(HRESULT hr, IUnknown* object, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace velmo::events
