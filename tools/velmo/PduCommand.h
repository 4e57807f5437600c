// "velmo pdu": encode and decode SMS PDUs offline, for people who debug
// modems. Text goes through the device's own character chain (UTF-8 on the
// terminal, UTF-16, Windows-1252, GSM).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// args: what follows "pdu". Returns the exit code: 0, or 2 for a usage error.
int PduCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velmo::cli
