#include "gatewayclient/GatewayClient.h"

#include <algorithm>

#include "interfaces/VelmoLib.h"

namespace velmo::gatewayclient {

namespace {

using gateway::kBusName;
using gateway::kInterface;
using gateway::kPath;

}  // namespace

std::optional<int> SignalDbm(std::int32_t signal)
{
    if (signal < 0 || signal > 31)
        return std::nullopt;
    return -113 + 2 * signal;
}

std::string DescribeBusError(const std::string& name, const std::string& message)
{
    if (name == kAccessDeniedError)
        return std::string("cannot reach the Velmo service: ") + kAccessDeniedText;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return "cannot reach the Velmo service: it is not running and the bus cannot start it (" + message + ")";
    if (name == "org.freedesktop.DBus.Error.UnknownObject" || name == "org.freedesktop.DBus.Error.UnknownMethod")
        return "the Velmo service answering has no gateway: it is older than this program (" + message + ")";
    return message.empty() ? name : message;
}

std::unique_ptr<GatewayClient> GatewayClient::Connect(const std::string& host, std::string& error)
{
    std::string why;
    std::unique_ptr<BusClient> bus = BusClient::Connect(kBusName, host, &CLSID_MessageCenter, why);
    if (!bus) {
        error = "cannot reach the Velmo service: " + why;
        return nullptr;
    }
    return std::unique_ptr<GatewayClient>(new GatewayClient(std::move(bus)));
}

GatewayClient::~GatewayClient() = default;

bool GatewayClient::Failed(const BusError& e)
{
    errorName_ = e.name;
    error_ = DescribeBusError(errorName_, e.message);
    return false;
}

bool GatewayClient::Call(const char* method, const char* inSignature, const std::vector<BusData>& in,
                         const char* outSignature, std::vector<BusData>& out)
{
    BusError error;
    if (!bus_->Call(kPath, kInterface, method, inSignature, in, outSignature, out, error))
        return Failed(error);
    return true;
}

bool GatewayClient::Send(const std::string& to, const std::string& text, std::string& id, const std::string& expire)
{
    // A bus string ends at its first NUL: what follows would be lost
    // unseen, so such a value is refused here as the service refuses it.
    for (auto [value, what] : {std::pair{&to, "recipient"}, std::pair{&text, "text"}})
        if (value->find('\0') != std::string::npos) {
            errorName_ = kInvalidArgsError;
            error_ = std::string("The ") + what + " holds a NUL character: it is refused";
            return false;
        }
    std::vector<BusData> out;
    bool sent = expire.empty() ? Call("Send", "ss", {to, text}, "s", out)
                               : Call("SendExpiring", "sss", {to, text, expire}, "s", out);
    if (!sent)
        return false;
    id = out[0].As<std::string>();
    return true;
}

bool GatewayClient::Status(const std::string& id, MessageStatus& status)
{
    std::vector<BusData> out;
    if (!Call("Status", "s", {id}, "sss", out))
        return false;
    status = {out[0].As<std::string>(), out[1].As<std::string>(), out[2].As<std::string>()};
    return true;
}

bool GatewayClient::List(const std::string& folder, std::uint32_t limit, const std::string& cursor,
                         std::vector<MessageSummary>& messages, std::string& next)
{
    std::vector<BusData> out;
    if (!Call("List", "sus", {folder, limit, cursor}, "a(sssss)s", out))
        return false;
    messages.clear();
    for (const BusData& row : out[0].Items()) {
        const BusData::List& f = row.Items();
        messages.push_back({f[0].As<std::string>(), f[1].As<std::string>(), f[2].As<std::string>(),
                            f[3].As<std::string>(), f[4].As<std::string>()});
    }
    next = out[1].As<std::string>();
    return true;
}

bool GatewayClient::Get(const std::string& id, Message& message)
{
    std::vector<BusData> out;
    if (!Call("Get", "s", {id}, "a{sv}", out))
        return false;
    auto field = [&](const char* key) {
        const BusData* value = out[0].Find(key);
        return value ? value->As<std::string>() : std::string();
    };
    message = Message{field("id"),
                      field("folder"),
                      field("status"),
                      field("to"),
                      field("from"),
                      field("text"),
                      field("statusText"),
                      field("created"),
                      field("completed"),
                      field("received"),
                      0};
    if (const BusData* retries = out[0].Find("retries"))
        message.retries = retries->As<std::int32_t>();
    message.accepted = field("accepted");
    message.discharged = field("discharged");
    return true;
}

bool GatewayClient::Devices(std::vector<Device>& devices)
{
    std::vector<BusData> out;
    devices.clear();
    if (Call("DeviceDetails", "", {}, "aa{sv}", out)) {
        for (const BusData& row : out[0].Items()) {
            auto text = [&](const char* key) {
                const BusData* value = row.Find(key);
                return value ? value->As<std::string>() : std::string();
            };
            auto number = [&](const char* key, std::int32_t none) {
                const BusData* value = row.Find(key);
                return value && value->Is<std::int32_t>() ? value->As<std::int32_t>() : none;
            };
            devices.push_back({number("id", 0), text("name"), text("state"), number("signal", -1), text("registration"),
                               text("operator"), text("lastError"), text("nextTry"), number("failedStarts", 0),
                               text("manufacturer"), text("model"), text("revision"), text("imei"), text("imsi"),
                               text("smsc"), text("storages"), text("notification"), text("port"), text("host")});
        }
        return true;
    }
    if (errorName_ != "org.freedesktop.DBus.Error.UnknownMethod")
        return false;
    if (!Call("Devices", "", {}, "a(ississ)", out))
        return false;
    for (const BusData& row : out[0].Items()) {
        const BusData::List& f = row.Items();
        Device d;
        d.id = f[0].As<std::int32_t>();
        d.name = f[1].As<std::string>();
        d.state = f[2].As<std::string>();
        d.signal = f[3].As<std::int32_t>();
        d.registration = f[4].As<std::string>();
        d.op = f[5].As<std::string>();
        devices.push_back(std::move(d));
    }
    return true;
}

bool GatewayClient::ReadCounters(Counters& counters)
{
    std::vector<BusData> out;
    if (!Call("Counters", "", {}, "tta(sttt)", out))
        return false;
    counters.queued = out[0].As<std::uint64_t>();
    counters.waiting = out[1].As<std::uint64_t>();
    counters.devices.clear();
    for (const BusData& row : out[2].Items()) {
        const BusData::List& f = row.Items();
        counters.devices.push_back(
            {f[0].As<std::string>(), f[1].As<std::uint64_t>(), f[2].As<std::uint64_t>(), f[3].As<std::uint64_t>()});
    }
    if (!Call("Deliveries", "", {}, "a(stt)adatdt", out))
        return errorName_ == "org.freedesktop.DBus.Error.UnknownMethod";  // a service without reports
    for (const BusData& row : out[0].Items()) {
        const BusData::List& f = row.Items();
        std::string device = f[0].As<std::string>();
        auto it = std::find_if(counters.devices.begin(), counters.devices.end(),
                               [&](const Counters::PerDevice& d) { return d.device == device; });
        if (it == counters.devices.end())
            it = counters.devices.insert(counters.devices.end(), Counters::PerDevice{device});
        it->delivered = f[1].As<std::uint64_t>();
        it->undelivered = f[2].As<std::uint64_t>();
    }
    counters.bounds.clear();
    counters.bucketCounts.clear();
    for (const BusData& bound : out[1].Items())
        counters.bounds.push_back(bound.As<double>());
    for (const BusData& n : out[2].Items())
        counters.bucketCounts.push_back(n.As<std::uint64_t>());
    counters.deliverySeconds = out[3].As<double>();
    counters.deliveries = out[4].As<std::uint64_t>();
    counters.hosts.clear();
    if (!Call("HostCounters", "", {}, "a(sxtatdt)a(ssttttt)", out))
        return errorName_ == "org.freedesktop.DBus.Error.UnknownMethod";  // a service of one host
    if (out[0].Items().empty())
        return true;  // the queue is not shared
    for (const BusData& row : out[0].Items()) {
        const BusData::List& f = row.Items();
        Counters::PerHost h{f[0].As<std::string>(), f[1].As<std::int64_t>(), f[2].As<std::uint64_t>()};
        for (const BusData& n : f[3].Items())
            h.bucketCounts.push_back(n.As<std::uint64_t>());
        h.deliverySeconds = f[4].As<double>();
        h.deliveries = f[5].As<std::uint64_t>();
        counters.hosts.push_back(std::move(h));
    }
    counters.devices.clear();
    for (const BusData& row : out[1].Items()) {
        const BusData::List& f = row.Items();
        counters.devices.push_back({f[1].As<std::string>(), f[2].As<std::uint64_t>(), f[3].As<std::uint64_t>(),
                                    f[4].As<std::uint64_t>(), f[5].As<std::uint64_t>(), f[6].As<std::uint64_t>(),
                                    f[0].As<std::string>()});
    }
    return true;
}
bool GatewayClient::Watch(std::function<void(const Event&)> onEvent)
{
    onEvent_ = std::move(onEvent);
    // Both signals carry three texts: the id, then status and status text,
    // or sender and device.
    auto subscribe = [this](const char* name, Event::Kind kind, BusError& error) {
        return bus_->Subscribe(
            kPath, kInterface, name, "sss",
            [this, kind](const std::vector<BusData>& args) {
                Event e;
                e.kind = kind;
                e.id = args[0].As<std::string>();
                bool status = kind == Event::Kind::StatusChanged;
                (status ? e.status : e.sender) = args[1].As<std::string>();
                (status ? e.statusText : e.device) = args[2].As<std::string>();
                onEvent_(e);
            },
            error);
    };
    BusError error;
    bool ok = subscribe("StatusChanged", Event::Kind::StatusChanged, error) &&
              subscribe("Received", Event::Kind::Received, error);
    return ok || Failed(error);
}

GatewayClient::WaitResult GatewayClient::Wait(int timeoutMs, const std::function<bool()>& done)
{
    BusError error;
    switch (bus_->Wait(timeoutMs, done, error)) {
    case BusClient::WaitResult::Done: return WaitResult::Done;
    case BusClient::WaitResult::TimedOut: return WaitResult::TimedOut;
    case BusClient::WaitResult::Lost: break;
    }
    Failed(error);
    return WaitResult::Lost;
}

}  // namespace velmo::gatewayclient
