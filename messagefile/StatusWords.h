// A message's status as programs show it: the word for it, and the time
// that dates the message at that status.
#pragma once

#include "messagefile/MessageRecord.h"

namespace velmo::store {

// "QUEUED", "SENT", "FAILED" or "RECEIVED"; null for any other value.
const char* StatusWord(LONG status);
// Creation while queued, completion once sent or failed, reception for a
// received message; null for any other status.
const SYSTEMTIME* StatusDate(const MessageRecord& record);

}  // namespace velmo::store
