#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

std::unique_ptr<gw::GatewayClient> OpenSession(const CommandOptions& options, std::ostream& err)
{
    std::string why;
    auto client = gw::GatewayClient::Connect(options.Value("--host"), why);
    if (!client)
        err << "velmo: " << why << "\n";
    return client;
}

int Failure(const gw::GatewayClient& client, std::ostream& err)
{
    err << "velmo: " << client.Error() << "\n";
    return client.ErrorName() == gw::kNotFoundError ? 3 : 1;
}

int UsageFailure(std::ostream& err, const std::string& problem, const char* usage)
{
    if (!problem.empty())
        err << "velmo: " << problem << "\n";
    err << usage;
    return 2;
}

} // namespace velmo::cli
