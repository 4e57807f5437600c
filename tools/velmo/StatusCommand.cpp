#include "gatewayclient/GatewayJson.h"
#include "interfaces/StatusWords.h"
#include "messagefile/TextLines.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace velmo::cli {

namespace {

const char kUsage[] = "usage: velmo status [--host [USER@]HOST] [--wait [--delivered] [--timeout S]] [--json] ID\n";
constexpr unsigned long kMaxTimeout = 31 * 24 * 3600;
constexpr int kTimedOut = 124;
constexpr int kNotFound = 3;
constexpr int kRecheckMs = 10000;

// Whether a status ends the wait: once the message left (or could not),
// or, with delivered, once the network's final report came.
bool Final(const std::string& word, bool delivered)
{
    bool reported = word == status::kDelivered || word == status::kUndelivered;
    return reported || word == status::kFailed || word == status::kReceived || (!delivered && word == status::kSent);
}

void Print(std::ostream& out, bool json, const std::string& id, const gatewayclient::MessageStatus& s)
{
    if (json) {
        out << gatewayclient::JsonText(id, s, 2) << '\n';
        return;
    }
    out << s.status << '\n' << s.date << '\n';
    std::string lines = messagefile::PlainLines(s.statusText);
    if (!lines.empty())
        out << lines << '\n';
}

}  // namespace

int StatusCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    unsigned long timeout = 0;
    if (!ParseCommand(args, {"--timeout"}, {"--wait", "--delivered"}, 1, kUsage, opts, err))
        return 2;
    if (opts.Has("--delivered") && !opts.Has("--wait"))
        return UsageFailure(err, "--delivered needs --wait", kUsage);
    const bool delivered = opts.Has("--delivered");
    if (opts.positional[0].empty())
        return UsageFailure(err, "the identifier is empty", kUsage);
    bool hasTimeout = opts.values.count("--timeout") != 0;
    if (hasTimeout && (!opts.Has("--wait") || !ParseCount(opts.Value("--timeout"), kMaxTimeout, timeout)))
        return UsageFailure(err, opts.Has("--wait") ? "--timeout takes whole seconds" : "--timeout needs --wait",
                            kUsage);
    const std::string& id = opts.positional[0];
    bool json = opts.Has("--json");
    auto session = OpenSession(opts, err);
    if (!session)
        return 1;

    // Listening starts before the first question, so the signal that
    // settles the message cannot fall between the two.
    std::string settled;
    if (opts.Has("--wait") && !session->Watch([&](const gatewayclient::Event& e) {
            if (e.kind == gatewayclient::Event::Kind::StatusChanged && e.id == id && Final(e.status, delivered))
                settled = e.status;
        }))
        return Failure(*session, err);
    gatewayclient::MessageStatus status;
    if (!session->Status(id, status)) {
        if (session->ErrorName() != gatewayclient::kNotFoundError)
            return Failure(*session, err);
        // Not known: the status word alone, as for any other status.
        if (json)
            out << gatewayclient::JsonText(id, gatewayclient::MessageStatus{status::kNotFound, "", ""}, 2) << '\n';
        else
            out << "NOT_FOUND\n";
        return kNotFound;
    }
    if (opts.Has("--wait") && !Final(status.status, delivered)) {
        // The signal comes from the host whose device settles the message;
        // where hosts share the queue that may be another one, so the
        // status is also asked again every kRecheckMs.
        const auto start = std::chrono::steady_clock::now();
        while (settled.empty() && !Final(status.status, delivered)) {
            int left = kRecheckMs;
            if (hasTimeout) {
                auto spent =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
                long long remaining = static_cast<long long>(timeout) * 1000 - spent.count();
                if (remaining <= 0) {
                    err << "velmo: " << id << " is still " << status.status << " after " << timeout << " s\n";
                    return kTimedOut;
                }
                left = static_cast<int>(std::min<long long>(remaining, kRecheckMs));
            }
            auto waited = session->Wait(left, [&] { return !settled.empty(); });
            if (waited == gatewayclient::GatewayClient::WaitResult::Lost || !session->Status(id, status))
                return Failure(*session, err);
        }
    }
    Print(out, json, id, status);
    if (opts.Has("--wait"))
        return status.status == status::kFailed || status.status == status::kUndelivered ? 1 : 0;
    return 0;
}

}  // namespace velmo::cli
