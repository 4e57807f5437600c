#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

bool ParseCommand(const std::vector<std::string>& args, std::set<std::string> values, std::set<std::string> flags,
                  std::size_t positional, const char* usage, CommandOptions& options, std::ostream& err)
{
    values.insert("--host");
    flags.insert("--json");
    std::string problem;
    if (ParseOptions(args, values, flags, options, problem) && options.positional.size() == positional)
        return true;
    UsageFailure(err, problem, usage);
    return false;
}

std::unique_ptr<gatewayclient::GatewayClient> BeginCommand(const std::vector<std::string>& args, std::size_t positional,
                                                           const char* usage, CommandOptions& options,
                                                           std::ostream& err, int& code)
{
    code = 2;
    if (!ParseCommand(args, {}, {}, positional, usage, options, err))
        return nullptr;
    code = 1;
    return OpenSession(options, err);
}

std::unique_ptr<gatewayclient::GatewayClient> OpenSession(const CommandOptions& options, std::ostream& err)
{
    std::string why;
    auto client = gatewayclient::GatewayClient::Connect(options.Value("--host"), why);
    if (!client)
        err << "velmo: " << why << "\n";
    return client;
}

int Failure(const gatewayclient::GatewayClient& client, std::ostream& err)
{
    err << "velmo: " << client.Error() << "\n";
    return client.ErrorName() == gatewayclient::kNotFoundError ? 3 : 1;
}

int UsageFailure(std::ostream& err, const std::string& problem, const char* usage)
{
    if (!problem.empty())
        err << "velmo: " << problem << "\n";
    err << usage;
    return 2;
}

}  // namespace velmo::cli
