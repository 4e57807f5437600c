#include "messagefile/StatusWords.h"

#include "interfaces/StatusWords.h"

namespace velmo::messagefile {

const char* StatusWord(LONG status)
{
    switch (status) {
    case QUEUED: return status::kQueued;
    case SENT: return status::kSent;
    case FAILED: return status::kFailed;
    case RECEIVED: return status::kReceived;
    case DELIVERED: return status::kDelivered;
    case UNDELIVERED: return status::kUndelivered;
    default: return nullptr;
    }
}

std::string StatusName(LONG status)
{
    if (const char* word = StatusWord(status))
        return word;
    return status == NOT_FOUND ? status::kNotFound : std::to_string(status);
}

const SYSTEMTIME* StatusDate(const MessageRecord& record)
{
    switch (record.Status) {
    case QUEUED: return &record.Created;
    case SENT:
    case FAILED: return &record.Completed;
    case DELIVERED:
    case UNDELIVERED: return record.Discharged.wYear ? &record.Discharged : &record.Completed;
    case RECEIVED: return &record.Received;
    default: return nullptr;
    }
}

const SYSTEMTIME& MessageDate(const MessageRecord& record)
{
    const SYSTEMTIME* date = StatusDate(record);
    return date ? *date : record.Created;
}

}  // namespace velmo::messagefile
