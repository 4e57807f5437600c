// "velmo drop NUMBER TEXT": queues a message without the bus, by writing a
// complete message file into the pickup folder of this machine's
// installation (the service takes it at its next scan, within 30 s).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// args: what follows "drop". Prints the file's path. Exit code 0; 1 when
// the file cannot be written; 2 for a usage error.
int DropCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velmo::cli
