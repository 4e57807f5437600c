#include "gatewayclient/GatewayJson.h"
#include "tools/velmo/GatewayCommands.h"
#include "tools/velmo/GatewaySession.h"

#include <algorithm>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace velmo::cli {

namespace {
const char kUsage[] = "usage: velmo devices [--host [USER@]HOST] [--json]\n";
std::string OrDash(const std::string& s) { return s.empty() ? "-" : s; }

// "name value" pieces of the known ones, joined by ", "; "" when none is known.
std::string Joined(std::initializer_list<std::pair<const char*, const std::string*>> pieces)
{
    std::string line;
    for (const auto& [name, value] : pieces)
        if (!value->empty())
            line += (line.empty() ? "" : ", ") + std::string(name) + (*name ? " " : "") + *value;
    return line;
}

// What is known of a device beyond its row, one line each: its hardware,
// how it is set up, and for one that does not run, why and when it is
// tried again.
std::vector<std::string> DetailLines(const gatewayclient::Device& d)
{
    std::vector<std::string> lines;
    std::string name = d.manufacturer + (d.manufacturer.empty() || d.model.empty() ? "" : " ") + d.model;
    std::string hardware = Joined({{"", &name}, {"revision", &d.revision}, {"IMEI", &d.imei}, {"IMSI", &d.imsi}});
    std::string setup = Joined(
        {{"port", &d.port}, {"service centre", &d.smsc}, {"storages", &d.storages}, {"notification", &d.notification}});
    if (!hardware.empty())
        lines.push_back("modem: " + hardware);
    if (!setup.empty())
        lines.push_back(setup);
    if (!d.lastError.empty())
        lines.push_back("last error: " + d.lastError);
    if (!d.nextTry.empty())
        lines.push_back("next try: " + d.nextTry +
                        (d.failedStarts ? " (" + std::to_string(d.failedStarts) + " failed starts)" : ""));
    return lines;
}

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
    // Hosts that share one queue each have their own devices: the host comes first.
    bool shared = std::any_of(devices.begin(), devices.end(), [](const auto& d) { return !d.host.empty(); });
    out << (shared ? "HOST\t" : "") << "ID\tNAME\tSTATE\tSIGNAL\tREGISTRATION\tOPERATOR\n";
    for (const gatewayclient::Device& d : devices) {
        std::optional<int> dbm = gatewayclient::SignalDbm(d.signal);
        if (shared)
            out << OrDash(d.host) << '\t';
        out << (d.id ? std::to_string(d.id) : "-") << '\t' << d.name << '\t' << d.state << '\t'
            << (dbm ? std::to_string(*dbm) + " dBm" : "-") << '\t' << OrDash(d.registration) << '\t' << OrDash(d.op)
            << '\n';
        for (const std::string& line : DetailLines(d))
            out << "\t" << line << '\n';
    }
    return 0;
}

}  // namespace velmo::cli
