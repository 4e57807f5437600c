#include "http/Metrics.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sstream>

namespace velmo::http {

namespace {

// A label is no place for a long text: the error is cut there.
constexpr std::size_t kErrorLabelLimit = 200;

void Family(std::ostringstream& out, const char* name, const char* type, const char* help)
{
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
}

// Seconds since 1970 of "2026-12-09T01:20:15Z"; nullopt for another shape.
std::optional<long long> EpochOf(const std::string& iso)
{
    std::tm t{};
    char zone = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec, &zone) != 7 ||
        zone != 'Z')
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t));
}

// The delivery times, when the service keeps them.
void DeliveryHistogram(std::ostringstream& out, const gatewayclient::Counters& counters)
{
    if (counters.bounds.empty() || counters.bounds.size() != counters.bucketCounts.size())
        return;
    Family(out, "velmo_message_delivery_seconds", "histogram",
           "Seconds from queued to delivered, of the messages the network reported delivered.");
    for (std::size_t i = 0; i < counters.bounds.size(); ++i)
        out << "velmo_message_delivery_seconds_bucket{le=\"" << counters.bounds[i] << "\"} " << counters.bucketCounts[i]
            << '\n';
    out << "velmo_message_delivery_seconds_bucket{le=\"+Inf\"} " << counters.deliveries << '\n';
    out << "velmo_message_delivery_seconds_sum " << counters.deliverySeconds << '\n';
    out << "velmo_message_delivery_seconds_count " << counters.deliveries << '\n';
}

struct PerDeviceCounter {
    const char* name;
    const char* help;
    std::uint64_t gatewayclient::Counters::PerDevice::*field;
};

const PerDeviceCounter kPerDevice[] = {
    {"velmo_messages_sent_total", "Messages sent since the service started, by device.",
     &gatewayclient::Counters::PerDevice::sent},
    {"velmo_messages_failed_total", "Messages failed since the service started, by device.",
     &gatewayclient::Counters::PerDevice::failed},
    {"velmo_messages_received_total", "Messages received since the service started, by device.",
     &gatewayclient::Counters::PerDevice::received},
    {"velmo_messages_delivered_total",
     "Sent messages the network reported delivered since the service started, by device.",
     &gatewayclient::Counters::PerDevice::delivered},
    {"velmo_messages_undelivered_total",
     "Sent messages the network reported it cannot deliver since the service started, by device.",
     &gatewayclient::Counters::PerDevice::undelivered},
};

// The counters by device: every device that ran is named, at 0 until its first message.
void PerDeviceCounters(std::ostringstream& out, const gatewayclient::Counters& counters,
                       const std::vector<gatewayclient::Device>& devices)
{
    for (const PerDeviceCounter& p : kPerDevice) {
        Family(out, p.name, "counter", p.help);
        std::vector<std::string> named;
        for (const gatewayclient::Counters::PerDevice& d : counters.devices) {
            out << p.name << "{device=\"" << LabelValue(d.device) << "\"} " << d.*p.field << '\n';
            named.push_back(d.device);
        }
        for (const gatewayclient::Device& d : devices)
            if (std::find(named.begin(), named.end(), d.name) == named.end())
                out << p.name << "{device=\"" << LabelValue(d.name) << "\"} 0\n";
    }
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
    PerDeviceCounters(out, counters, devices);
    DeliveryHistogram(out, counters);
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
    Family(out, "velmo_modem_info", "gauge", "The modem's identity, as labels; always 1.");
    for (const gatewayclient::Device& d : devices)
        if (!d.manufacturer.empty() || !d.model.empty() || !d.imei.empty())
            out << "velmo_modem_info{device=\"" << LabelValue(d.name) << "\",manufacturer=\""
                << LabelValue(d.manufacturer) << "\",model=\"" << LabelValue(d.model) << "\",revision=\""
                << LabelValue(d.revision) << "\",imei=\"" << LabelValue(d.imei) << "\",port=\"" << LabelValue(d.port)
                << "\"} 1\n";
    Family(out, "velmo_device_failed_starts", "gauge", "Starts since the device last ran that did not reach Run.");
    for (const gatewayclient::Device& d : devices)
        if (d.id)
            out << "velmo_device_failed_starts{device=\"" << LabelValue(d.name) << "\"} " << d.failedStarts << '\n';
    Family(out, "velmo_device_next_try_timestamp_seconds", "gauge",
           "When a device that does not run is started again, in seconds since 1970.");
    for (const gatewayclient::Device& d : devices)
        if (auto at = EpochOf(d.nextTry))
            out << "velmo_device_next_try_timestamp_seconds{device=\"" << LabelValue(d.name) << "\"} " << *at << '\n';
    Family(out, "velmo_device_last_error_info", "gauge",
           "The last failure of a device that does not run, as a label; always 1.");
    for (const gatewayclient::Device& d : devices)
        if (!d.lastError.empty() && d.state != "running")
            out << "velmo_device_last_error_info{device=\"" << LabelValue(d.name) << "\",error=\""
                << LabelValue(d.lastError.substr(0, kErrorLabelLimit)) << "\"} 1\n";
    return out.str();
}

}  // namespace velmo::http
