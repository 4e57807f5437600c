#include "gatewayclient/GatewayJson.h"
#include "interfaces/StatusWords.h"
#include "messagefile/TextLines.h"
#include "platform/SystemTime.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

namespace {

const char kUsage[] = "usage: velmo watch [--host [USER@]HOST] [--json]\n";

std::string Now()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return IsoDate(now);
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
    bool ok = session->Watch([&](const gatewayclient::Event& e) {
        if (json) {
            out << gatewayclient::JsonText(e, Now(), -1) << std::endl;
        } else if (e.kind == gatewayclient::Event::Kind::Received) {
            out << Now() << " " << status::kReceived << " " << e.id << " from " << e.sender << " via " << e.device
                << std::endl;
        } else {
            std::string text = messagefile::OneLine(e.statusText);
            out << Now() << ' ' << e.status << ' ' << e.id << (text.empty() ? "" : " " + text) << std::endl;
        }
    });
    if (!ok)
        return Failure(*session, err);
    // The gateway's own object answering proves the service is there to watch.
    std::vector<gatewayclient::Device> devices;
    if (!session->Devices(devices))
        return Failure(*session, err);
    err << "velmo: watching the service's messages; end with Ctrl-C\n";
    session->Wait(-1, [] { return false; });
    return Failure(*session, err);
}

}  // namespace velmo::cli
