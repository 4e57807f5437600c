// Structured entries for the systemd journal, beside the event log's plain
// lines: each entry is a list of "NAME=value" fields (names in capitals,
// values of one line) sent whole to the journal's native socket.
#pragma once

#include "platform/Types.h"

#include <string>
#include <vector>

namespace velmo {

// Sends one entry. False when no journal took it (none runs, or a field is
// malformed); the caller has nowhere else to report that.
VELMO_PLATFORM_API bool SendJournalEntry(const std::vector<std::string>& fields);

}  // namespace velmo
