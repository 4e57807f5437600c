#include "gatewayclient/GatewayJson.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <ostream>

namespace velmo::cli {

namespace {
const char kUsage[] = "usage: velmo devices [--host [USER@]HOST] [--json]\n";
std::string OrDash(const std::string& s) { return s.empty() ? "-" : s; }
}  // namespace

int DevicesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandOptions opts;
    int code = 0;
    auto session = BeginCommand(args, 0, kUsage, opts, err, code);
    if (!session)
        return code;
    std::vector<gatewayclient::Device> devices;
    if (!session->Devices(devices))
        return Failure(*session, err);
    if (opts.Has("--json")) {
        out << gatewayclient::JsonText(devices, 2) << '\n';
        return 0;
    }
    out << "ID\tNAME\tSTATE\tSIGNAL\tREGISTRATION\tOPERATOR\n";
    for (const gatewayclient::Device& d : devices) {
        std::optional<int> dbm = gatewayclient::SignalDbm(d.signal);
        out << (d.id ? std::to_string(d.id) : "-") << '\t' << d.name << '\t' << d.state << '\t'
            << (dbm ? std::to_string(*dbm) + " dBm" : "-") << '\t' << OrDash(d.registration) << '\t' << OrDash(d.op)
            << '\n';
    }
    return 0;
}

}  // namespace velmo::cli
