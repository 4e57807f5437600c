// What velmo's gateway commands share: the connection their options name,
// and how a failure is told.
#pragma once

#include "gatewayclient/GatewayClient.h"
#include "tools/velmo/CommandOptions.h"

#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace velmo::cli {

// The options of a gateway command: --host and --json, and the command's
// own value options and flags; exactly `positional` other arguments.
// False after telling err what is wrong and the usage.
bool ParseCommand(const std::vector<std::string>& args, std::set<std::string> values, std::set<std::string> flags,
                  std::size_t positional, const char* usage, CommandOptions& options, std::ostream& err);
// ParseCommand, then OpenSession: null, with the exit code in code (2 or
// 1), when either fails.
std::unique_ptr<gatewayclient::GatewayClient> BeginCommand(const std::vector<std::string>& args, std::size_t positional,
                                                           const char* usage, CommandOptions& options,
                                                           std::ostream& err, int& code);
// The gateway on the machine --host names (this one without it); null
// after telling err why not.
std::unique_ptr<gatewayclient::GatewayClient> OpenSession(const CommandOptions& options, std::ostream& err);
// Tells err the client's last error. Returns 3 when the service does not
// know the identifier, 1 otherwise.
int Failure(const gatewayclient::GatewayClient& client, std::ostream& err);
// Tells err the problem (when there is one) and the usage. Returns 2.
int UsageFailure(std::ostream& err, const std::string& problem, const char* usage);

}  // namespace velmo::cli
