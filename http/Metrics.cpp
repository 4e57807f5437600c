#include "http/Metrics.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
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

// The host's label and a comma, when hosts share the queue; "" otherwise.
std::string HostLabel(const std::string& host)
{
    return host.empty() ? std::string() : "host=\"" + LabelValue(host) + "\",";
}

// The labels naming a device: its host when there is one, and its name.
std::string DeviceLabels(const std::string& host, const std::string& name)
{
    return HostLabel(host) + "device=\"" + LabelValue(name) + "\"";
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

// One histogram of delivery times: labels is "" or the host's label and a comma.
void HistogramLines(std::ostringstream& out, const std::string& labels, const std::vector<double>& bounds,
                    const std::vector<std::uint64_t>& buckets, double sum, std::uint64_t count)
{
    for (std::size_t i = 0; i < bounds.size() && i < buckets.size(); ++i)
        out << "velmo_message_delivery_seconds_bucket{" << labels << "le=\"" << bounds[i] << "\"} " << buckets[i]
            << '\n';
    std::string own = labels.empty() ? std::string() : "{" + labels.substr(0, labels.size() - 1) + "}";
    out << "velmo_message_delivery_seconds_bucket{" << labels << "le=\"+Inf\"} " << count << '\n';
    out << "velmo_message_delivery_seconds_sum" << own << ' ' << sum << '\n';
    out << "velmo_message_delivery_seconds_count" << own << ' ' << count << '\n';
}

// The delivery times, when the service keeps them: by host when hosts
// share the queue.
void DeliveryHistogram(std::ostringstream& out, const gatewayclient::Counters& counters)
{
    if (counters.bounds.empty() || counters.bounds.size() != counters.bucketCounts.size())
        return;
    Family(out, "velmo_message_delivery_seconds", "histogram",
           "Seconds from queued to delivered, of the messages the network reported delivered.");
    if (counters.hosts.empty())
        HistogramLines(out, "", counters.bounds, counters.bucketCounts, counters.deliverySeconds, counters.deliveries);
    for (const gatewayclient::Counters::PerHost& h : counters.hosts)
        if (h.bucketCounts.size() == counters.bounds.size())
            HistogramLines(out, HostLabel(h.host), counters.bounds, h.bucketCounts, h.deliverySeconds, h.deliveries);
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
            std::string labels = DeviceLabels(d.host, d.device);
            out << p.name << '{' << labels << "} " << d.*p.field << '\n';
            named.push_back(labels);
        }
        for (const gatewayclient::Device& d : devices) {
            std::string labels = DeviceLabels(d.host, d.name);
            if (std::find(named.begin(), named.end(), labels) == named.end())
                out << p.name << '{' << labels << "} 0\n";
        }
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
    if (counters.hosts.empty())
        out << "velmo_messages_queued_total " << counters.queued << '\n';
    for (const gatewayclient::Counters::PerHost& h : counters.hosts)
        out << "velmo_messages_queued_total{host=\"" << LabelValue(h.host) << "\"} " << h.queued << '\n';
    PerDeviceCounters(out, counters, devices);
    DeliveryHistogram(out, counters);
    Family(out, "velmo_messages_waiting", "gauge", "Messages in the queue now.");
    out << "velmo_messages_waiting " << counters.waiting << '\n';
    if (!counters.hosts.empty()) {
        Family(out, "velmo_host_reported_timestamp_seconds", "gauge",
               "When the gateway host last reported its figures, in seconds since 1970.");
        for (const gatewayclient::Counters::PerHost& h : counters.hosts)
            out << "velmo_host_reported_timestamp_seconds{host=\"" << LabelValue(h.host) << "\"} " << h.reported
                << '\n';
    }

    // Devices running now, by host when hosts share the queue.
    std::map<std::string, std::size_t> up;
    for (const gatewayclient::Counters::PerHost& h : counters.hosts)
        up[h.host] = 0;
    for (const gatewayclient::Device& d : devices)
        up[d.host] += d.state == "running" ? 1 : 0;
    if (up.empty())
        up[""] = 0;
    Family(out, "velmo_devices_up", "gauge", "Devices running now.");
    for (const auto& [host, n] : up)
        out << "velmo_devices_up" << (host.empty() ? std::string() : "{host=\"" + LabelValue(host) + "\"}") << ' ' << n
            << '\n';
    Family(out, "velmo_device_up", "gauge",
           "1 while the device runs, 0 while it starts, restarts, is removed or its host is lost.");
    for (const gatewayclient::Device& d : devices)
        out << "velmo_device_up{" << DeviceLabels(d.host, d.name) << ",state=\"" << LabelValue(d.state) << "\"} "
            << (d.state == "running" ? 1 : 0) << '\n';
    Family(out, "velmo_modem_signal_dbm", "gauge", "Received signal strength of the modem, in dBm.");
    for (const gatewayclient::Device& d : devices)
        if (auto dbm = gatewayclient::SignalDbm(d.signal))
            out << "velmo_modem_signal_dbm{" << DeviceLabels(d.host, d.name) << "} " << *dbm << '\n';
    Family(out, "velmo_modem_registered", "gauge", "1 while the modem is registered (home or roaming).");
    for (const gatewayclient::Device& d : devices)
        if (!d.registration.empty())
            out << "velmo_modem_registered{" << DeviceLabels(d.host, d.name) << ",registration=\""
                << LabelValue(d.registration) << "\"} "
                << (d.registration == "home" || d.registration == "roaming" ? 1 : 0) << '\n';
    Family(out, "velmo_modem_info", "gauge", "The modem's identity, as labels; always 1.");
    for (const gatewayclient::Device& d : devices)
        if (!d.manufacturer.empty() || !d.model.empty() || !d.imei.empty())
            out << "velmo_modem_info{" << DeviceLabels(d.host, d.name) << ",manufacturer=\""
                << LabelValue(d.manufacturer) << "\",model=\"" << LabelValue(d.model) << "\",revision=\""
                << LabelValue(d.revision) << "\",imei=\"" << LabelValue(d.imei) << "\",port=\"" << LabelValue(d.port)
                << "\"} 1\n";
    Family(out, "velmo_device_failed_starts", "gauge", "Starts since the device last ran that did not reach Run.");
    for (const gatewayclient::Device& d : devices)
        if (d.id)
            out << "velmo_device_failed_starts{" << DeviceLabels(d.host, d.name) << "} " << d.failedStarts << '\n';
    Family(out, "velmo_device_next_try_timestamp_seconds", "gauge",
           "When a device that does not run is started again, in seconds since 1970.");
    for (const gatewayclient::Device& d : devices)
        if (auto at = EpochOf(d.nextTry))
            out << "velmo_device_next_try_timestamp_seconds{" << DeviceLabels(d.host, d.name) << "} " << *at << '\n';
    Family(out, "velmo_device_last_error_info", "gauge",
           "The last failure of a device that does not run, as a label; always 1.");
    for (const gatewayclient::Device& d : devices)
        if (!d.lastError.empty() && d.state != "running")
            out << "velmo_device_last_error_info{" << DeviceLabels(d.host, d.name) << ",error=\""
                << LabelValue(d.lastError.substr(0, kErrorLabelLimit)) << "\"} 1\n";
    return out.str();
}

}  // namespace velmo::http
