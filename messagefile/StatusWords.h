// A message's status as programs show it: the word for it, and the time
// that dates the message at that status.
#pragma once

#include "messagefile/MessageRecord.h"

#include <string>

namespace velmo::messagefile {

// "QUEUED", "SENT", "FAILED", "RECEIVED", "DELIVERED" or "UNDELIVERED";
// null for any other value.
const char* StatusWord(LONG status);
// The same, with "NOT_FOUND" for 0 and the number for any other value.
std::string StatusName(LONG status);
// Creation while queued, completion once sent or failed, the discharge
// time of the network's report once delivered or undelivered (completion
// when the report gave none), reception for a received message; null for
// any other status.
const SYSTEMTIME* StatusDate(const MessageRecord& record);
// The status's date, or the creation for a status that has none.
const SYSTEMTIME& MessageDate(const MessageRecord& record);

}  // namespace velmo::messagefile
