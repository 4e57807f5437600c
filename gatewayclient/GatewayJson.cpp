#include "gatewayclient/GatewayJson.h"

#include <nlohmann/json.hpp>

namespace velmo::gatewayclient {

namespace {

using nlohmann::json;

json OrNull(const std::string& s) { return s.empty() ? json(nullptr) : json(s); }

json Value(const MessageSummary& m)
{
    return {{"id", m.id}, {"status", m.status}, {"to", m.to}, {"from", m.from}, {"date", OrNull(m.date)}};
}

json Value(const Device& d)
{
    std::optional<int> dbm = SignalDbm(d.signal);
    json value = {{"id", d.id},
                  {"name", d.name},
                  {"state", d.state},
                  {"signal", dbm ? json(d.signal) : json(nullptr)},
                  {"signalDbm", dbm ? json(*dbm) : json(nullptr)},
                  {"registration", OrNull(d.registration)},
                  {"operator", OrNull(d.op)},
                  {"lastError", OrNull(d.lastError)},
                  {"nextTry", OrNull(d.nextTry)},
                  {"failedStarts", d.failedStarts},
                  {"manufacturer", OrNull(d.manufacturer)},
                  {"model", OrNull(d.model)},
                  {"revision", OrNull(d.revision)},
                  {"imei", OrNull(d.imei)},
                  {"imsi", OrNull(d.imsi)},
                  {"smsc", OrNull(d.smsc)},
                  {"storages", OrNull(d.storages)},
                  {"notification", OrNull(d.notification)},
                  {"port", OrNull(d.port)}};
    if (!d.host.empty())
        value["host"] = d.host;  // only where hosts share the queue
    return value;
}

template <class T>
std::string Array(const std::vector<T>& items, int indent)
{
    json all = json::array();
    for (const T& item : items)
        all.push_back(Value(item));
    return all.dump(indent);
}

}  // namespace

std::string JsonText(const std::vector<MessageSummary>& messages, int indent) { return Array(messages, indent); }

std::string JsonText(const std::vector<Device>& devices, int indent) { return Array(devices, indent); }

std::string JsonText(const Message& m, int indent)
{
    return json{{"id", m.id},
                {"folder", m.folder},
                {"status", m.status},
                {"to", m.to},
                {"from", m.from},
                {"text", m.text},
                {"statusText", m.statusText},
                {"created", OrNull(m.created)},
                {"completed", OrNull(m.completed)},
                {"received", OrNull(m.received)},
                {"retries", m.retries},
                {"delivered", m.status == "DELIVERED"     ? json(true)
                              : m.status == "UNDELIVERED" ? json(false)
                                                          : json()},
                {"deliveredAt", m.status == "DELIVERED" ? OrNull(m.discharged) : json()},
                {"accepted", OrNull(m.accepted)},
                {"discharged", OrNull(m.discharged)}}
        .dump(indent);
}

std::string JsonText(const std::string& id, const MessageStatus& s, int indent)
{
    return json{{"id", id}, {"status", s.status}, {"statusText", s.statusText}, {"date", OrNull(s.date)}}.dump(indent);
}

std::string JsonText(const Event& e, const std::string& time, int indent)
{
    json value = e.kind == Event::Kind::Received
                     ? json{{"event", "received"}, {"id", e.id}, {"sender", e.sender}, {"device", e.device}}
                     : json{{"event", "status"}, {"id", e.id}, {"status", e.status}, {"statusText", e.statusText}};
    value["time"] = time;
    return value.dump(indent);
}

}  // namespace velmo::gatewayclient
