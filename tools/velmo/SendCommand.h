// "velmo send [--host [USER@]HOST] TO [TEXT...]": queues a message through
// the service's NewSMS object on the bus and prints its identifier. The
// words of TEXT are joined by single spaces; without TEXT the text is read
// from standard input (one final line end dropped).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// Exit code 0; 1 when the service refuses or cannot be reached (the reason
// on err); 2 for a usage error.
int SendCommand(std::vector<std::string> args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace velmo::cli
