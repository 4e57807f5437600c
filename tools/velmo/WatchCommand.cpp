#include "gatewayclient/GatewayJson.h"
#include "messagefile/TextLines.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <ctime>
#include <ostream>

namespace velmo::cli {

namespace {

const char kUsage[] = "usage: velmo watch [--host [USER@]HOST] [--json]\n";

std::string Now()
{
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

int WatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    int code = 0;
    auto session = BeginCommand(args, 0, kUsage, opts, err, code);
    if (!session)
        return code;
    bool json = opts.Has("--json");
    bool ok = session->Watch([&](const gw::Event& e) {
        if (json) {
            out << gw::JsonText(e, Now(), -1) << std::endl;
        } else if (e.kind == gw::Event::Kind::Received) {
            out << Now() << " RECEIVED " << e.id << " from " << e.sender << " via " << e.device << std::endl;
        } else {
            std::string text = messagefile::OneLine(e.statusText);
            out << Now() << ' ' << e.status << ' ' << e.id << (text.empty() ? "" : " " + text) << std::endl;
        }
    });
    if (!ok)
        return Failure(*session, err);
    // The gateway's own object answering proves the service is there to watch.
    std::vector<gw::Device> devices;
    if (!session->Devices(devices))
        return Failure(*session, err);
    err << "velmo: watching the service's messages; end with Ctrl-C\n";
    session->Wait(-1, [] { return false; });
    return Failure(*session, err);
}

}  // namespace velmo::cli
