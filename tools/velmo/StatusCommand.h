// "velmo status [--host [USER@]HOST] ID": the state of a sent message, from
// the service's MessageCenter on the bus. Prints the status word (QUEUED,
// SENT, FAILED, RECEIVED) on the first line, the date of that status as
// ISO 8601 UTC on the second and the status text after it; for an
// identifier the service does not know, only NOT_FOUND.
#pragma once

#include "platform/Variant.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// Exit code 0; 3 for NOT_FOUND; 1 when the query fails (the reason on
// err); 2 for a usage error.
int StatusCommand(std::vector<std::string> args, std::ostream& out, std::ostream& err);

// "2026-12-08T11:21:00Z" for an automation date in UTC; "" for none.
std::string IsoUtc(const VARIANT& date);

} // namespace velmo::cli
