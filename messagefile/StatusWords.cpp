#include "messagefile/StatusWords.h"

namespace velmo::store {

const char* StatusWord(LONG status)
{
    switch (status) {
    case QUEUED: return "QUEUED";
    case SENT: return "SENT";
    case FAILED: return "FAILED";
    case RECEIVED: return "RECEIVED";
    default: return nullptr;
    }
}

const SYSTEMTIME* StatusDate(const MessageRecord& record)
{
    switch (record.Status) {
    case QUEUED: return &record.Created;
    case SENT:
    case FAILED: return &record.Completed;
    case RECEIVED: return &record.Received;
    default: return nullptr;
    }
}

}  // namespace velmo::store
