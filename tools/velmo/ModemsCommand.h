// velmo modems [--json] [--comm SETTINGS] [PATH...]: finds the modems on
// this machine's serial lines without the service, and prints for each
// line what answered and a device entry to paste into config.xml.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// Probes the given paths, else every line under /dev/serial/by-id/ and
// every /dev/ttyUSB* and /dev/ttyACM* (under the system root). Exit code
// 0 when a modem answered on some line, 1 when none did (or no line was
// found), 2 for a usage error.
int ModemsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velmo::cli
