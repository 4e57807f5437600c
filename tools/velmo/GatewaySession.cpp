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

std::string PlainLines(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    std::size_t first = out.find_first_not_of('\n');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of('\n') - first + 1);
}

} // namespace velmo::cli
