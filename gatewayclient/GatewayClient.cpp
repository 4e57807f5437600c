#include "gatewayclient/GatewayClient.h"

#include "interfaces/VelmoLib.h"
#include "platform/BusClient.h"

#include <chrono>
#include <map>

namespace velmo::gatewayclient {

namespace {

using gateway::kBusName;
using gateway::kInterface;
using gateway::kPath;

std::string Field(const std::map<std::string, sdbus::Variant>& m, const char* key)
{
    auto it = m.find(key);
    if (it == m.end() || !it->second.containsValueOfType<std::string>())
        return {};
    return it->second.get<std::string>();
}

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
    std::unique_ptr<sdbus::IConnection> conn = ConnectServiceBus(host, &CLSID_MessageCenter, &why);
    if (!conn) {
        error = "cannot reach the Velmo service: " + why;
        return nullptr;
    }
    try {
        return std::unique_ptr<GatewayClient>(new GatewayClient(std::move(conn)));
    } catch (const sdbus::Error& e) {
        error = "cannot reach the Velmo service: " + e.getMessage();
        return nullptr;
    }
}

GatewayClient::GatewayClient(std::unique_ptr<sdbus::IConnection> conn)
    : conn_(std::move(conn)), proxy_(sdbus::createProxy(*conn_, kBusName, kPath))
{}

GatewayClient::~GatewayClient() = default;

bool GatewayClient::Failed(const sdbus::Error& e)
{
    errorName_ = e.getName();
    error_ = DescribeBusError(errorName_, e.getMessage());
    return false;
}

template <class... Out, class... In>
bool GatewayClient::Call(const char* method, std::tuple<Out&...> out, const In&... in)
{
    try {
        auto call = proxy_->createMethodCall(kInterface, method);
        (void)(call << ... << in);
        auto reply = proxy_->callMethod(call);
        std::apply([&](auto&... o) { (void)(reply >> ... >> o); }, out);
        return true;
    } catch (const sdbus::Error& e) {
        return Failed(e);
    }
}

bool GatewayClient::Send(const std::string& to, const std::string& text, std::string& id)
{
    return Call("Send", std::tie(id), to, text);
}

bool GatewayClient::Status(const std::string& id, MessageStatus& status)
{
    return Call("Status", std::tie(status.status, status.statusText, status.date), id);
}

bool GatewayClient::List(const std::string& folder, std::uint32_t limit, const std::string& cursor,
                         std::vector<MessageSummary>& messages, std::string& next)
{
    std::vector<sdbus::Struct<std::string, std::string, std::string, std::string, std::string>> rows;
    if (!Call("List", std::tie(rows, next), folder, limit, cursor))
        return false;
    messages.clear();
    for (const auto& r : rows)
        messages.push_back({std::get<0>(r), std::get<1>(r), std::get<2>(r), std::get<3>(r), std::get<4>(r)});
    return true;
}

bool GatewayClient::Get(const std::string& id, Message& message)
{
    std::map<std::string, sdbus::Variant> fields;
    if (!Call("Get", std::tie(fields), id))
        return false;
    message = Message{Field(fields, "id"),
                      Field(fields, "folder"),
                      Field(fields, "status"),
                      Field(fields, "to"),
                      Field(fields, "from"),
                      Field(fields, "text"),
                      Field(fields, "statusText"),
                      Field(fields, "created"),
                      Field(fields, "completed"),
                      Field(fields, "received"),
                      0};
    auto retries = fields.find("retries");
    if (retries != fields.end() && retries->second.containsValueOfType<std::int32_t>())
        message.retries = retries->second.get<std::int32_t>();
    return true;
}

bool GatewayClient::Devices(std::vector<Device>& devices)
{
    std::vector<sdbus::Struct<std::int32_t, std::string, std::string, std::int32_t, std::string, std::string>> rows;
    if (!Call("Devices", std::tie(rows)))
        return false;
    devices.clear();
    for (const auto& r : rows)
        devices.push_back(
            {std::get<0>(r), std::get<1>(r), std::get<2>(r), std::get<3>(r), std::get<4>(r), std::get<5>(r)});
    return true;
}

bool GatewayClient::ReadCounters(Counters& counters)
{
    std::vector<sdbus::Struct<std::string, std::uint64_t, std::uint64_t, std::uint64_t>> rows;
    if (!Call("Counters", std::tie(counters.queued, counters.waiting, rows)))
        return false;
    counters.devices.clear();
    for (const auto& r : rows)
        counters.devices.push_back({std::get<0>(r), std::get<1>(r), std::get<2>(r), std::get<3>(r)});
    return true;
}

bool GatewayClient::Watch(std::function<void(const Event&)> onEvent)
{
    onEvent_ = std::move(onEvent);
    try {
        proxy_->uponSignal("StatusChanged")
            .onInterface(kInterface)
            .call([this](const std::string& id, const std::string& status, const std::string& text) {
                Event e;
                e.kind = Event::Kind::StatusChanged;
                e.id = id;
                e.status = status;
                e.statusText = text;
                onEvent_(e);
            });
        proxy_->uponSignal("Received")
            .onInterface(kInterface)
            .call([this](const std::string& id, const std::string& sender, const std::string& device) {
                Event e;
                e.kind = Event::Kind::Received;
                e.id = id;
                e.sender = sender;
                e.device = device;
                onEvent_(e);
            });
        proxy_->finishRegistration();
        return true;
    } catch (const sdbus::Error& e) {
        return Failed(e);
    }
}

GatewayClient::WaitResult GatewayClient::Wait(int timeoutMs, const std::function<bool()>& done)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    try {
        while (true) {
            while (conn_->processPendingRequest())
                if (done())
                    return WaitResult::Done;
            if (done())
                return WaitResult::Done;
            int wait = -1;
            if (timeoutMs >= 0) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0)
                    return WaitResult::TimedOut;
                wait = static_cast<int>(left);
            }
            if (!WaitForBusTraffic(*conn_, wait, &error_))
                return WaitResult::Lost;
        }
    } catch (const sdbus::Error& e) {
        Failed(e);
        return WaitResult::Lost;
    }
}

}  // namespace velmo::gatewayclient
