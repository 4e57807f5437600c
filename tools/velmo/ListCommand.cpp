#include "gatewayclient/GatewayJson.h"
#include "interfaces/StatusWords.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

namespace {
const char kUsage[] = "usage: velmo list [--host [USER@]HOST] [--folder queued|sent|failed|received|bad] "
                      "[--limit N] [--json]\n";
constexpr unsigned long kMaxLimit = 100000000;
constexpr std::uint32_t kPage = 1000;
}  // namespace

int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    unsigned long limit = 0;
    if (!ParseCommand(args, {"--folder", "--limit"}, {}, 0, kUsage, opts, err))
        return 2;
    if (opts.values.count("--limit") && (!ParseCount(opts.Value("--limit"), kMaxLimit, limit) || limit == 0))
        return UsageFailure(err, "--limit takes a whole number from 1", kUsage);
    auto session = OpenSession(opts, err);
    if (!session)
        return 1;
    std::string folder = opts.Value("--folder", "queued");
    bool json = opts.Has("--json");
    std::vector<gatewayclient::MessageSummary> all;
    std::string cursor;
    unsigned long shown = 0;
    do {
        std::uint32_t page = kPage;
        if (limit)
            page = static_cast<std::uint32_t>(std::min<unsigned long>(kPage, limit - shown));
        std::vector<gatewayclient::MessageSummary> messages;
        std::string next;
        if (!session->List(folder, page, cursor, messages, next))
            return Failure(*session, err);
        for (const gatewayclient::MessageSummary& m : messages) {
            if (json)
                all.push_back(m);
            else
                out << m.id << '\t' << m.status << '\t' << (m.date.empty() ? "-" : m.date) << '\t'
                    << (m.status == status::kReceived ? m.from : m.to) << '\n';
        }
        shown += messages.size();
        cursor = next;
    } while (!cursor.empty() && (!limit || shown < limit));
    if (json)
        out << gatewayclient::JsonText(all, 2) << '\n';
    return 0;
}

}  // namespace velmo::cli
