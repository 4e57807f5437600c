#include "http/Metrics.h"

#include <algorithm>
#include <sstream>

namespace velmo::http {

namespace {

void Family(std::ostringstream& out, const char* name, const char* type, const char* help)
{
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

}  // namespace

std::string LabelValue(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string RenderMetrics(const gatewayclient::Counters& counters, const std::vector<gatewayclient::Device>& devices)
{
    std::ostringstream out;
    Family(out, "velmo_messages_queued_total", "counter", "Messages queued since the service started.");
    out << "velmo_messages_queued_total " << counters.queued << '\n';
    struct PerDevice {
        const char* name;
        const char* help;
        std::uint64_t gatewayclient::Counters::PerDevice::*field;
    } perDevice[] = {
        {"velmo_messages_sent_total", "Messages sent since the service started, by device.",
         &gatewayclient::Counters::PerDevice::sent},
        {"velmo_messages_failed_total", "Messages failed since the service started, by device.",
         &gatewayclient::Counters::PerDevice::failed},
        {"velmo_messages_received_total", "Messages received since the service started, by device.",
         &gatewayclient::Counters::PerDevice::received},
    };
    for (const PerDevice& p : perDevice) {
        Family(out, p.name, "counter", p.help);
        // Every device that ran is named, at 0 until its first message.
        std::vector<std::string> named;
        for (const gatewayclient::Counters::PerDevice& d : counters.devices) {
            out << p.name << "{device=\"" << LabelValue(d.device) << "\"} " << d.*p.field << '\n';
            named.push_back(d.device);
        }
        for (const gatewayclient::Device& d : devices)
            if (std::find(named.begin(), named.end(), d.name) == named.end())
                out << p.name << "{device=\"" << LabelValue(d.name) << "\"} 0\n";
    }
    Family(out, "velmo_messages_waiting", "gauge", "Messages in the queue now.");
    out << "velmo_messages_waiting " << counters.waiting << '\n';

    std::size_t up = 0;
    for (const gatewayclient::Device& d : devices)
        up += d.state == "running" ? 1 : 0;
    Family(out, "velmo_devices_up", "gauge", "Devices running now.");
    out << "velmo_devices_up " << up << '\n';
    Family(out, "velmo_device_up", "gauge", "1 while the device runs, 0 while it starts, restarts or is removed.");
    for (const gatewayclient::Device& d : devices)
        out << "velmo_device_up{device=\"" << LabelValue(d.name) << "\",state=\"" << d.state << "\"} "
            << (d.state == "running" ? 1 : 0) << '\n';
    Family(out, "velmo_modem_signal_dbm", "gauge", "Received signal strength of the modem, in dBm.");
    for (const gatewayclient::Device& d : devices)
        if (auto dbm = gatewayclient::SignalDbm(d.signal))
            out << "velmo_modem_signal_dbm{device=\"" << LabelValue(d.name) << "\"} " << *dbm << '\n';
    Family(out, "velmo_modem_registered", "gauge", "1 while the modem is registered (home or roaming).");
    for (const gatewayclient::Device& d : devices)
        if (!d.registration.empty())
            out << "velmo_modem_registered{device=\"" << LabelValue(d.name) << "\",registration=\""
                << LabelValue(d.registration) << "\"} "
                << (d.registration == "home" || d.registration == "roaming" ? 1 : 0) << '\n';
    return out.str();
}

}  // namespace velmo::http
