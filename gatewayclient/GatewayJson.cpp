#include "gatewayclient/GatewayJson.h"

namespace velmo::gw {

namespace {

nlohmann::json OrNull(const std::string& s) { return s.empty() ? nlohmann::json(nullptr) : nlohmann::json(s); }

} // namespace

std::optional<int> SignalDbm(std::int32_t signal)
{
    if (signal < 0 || signal > 31)
        return std::nullopt;
    return -113 + 2 * signal;
}

nlohmann::json ToJson(const MessageSummary& m)
{
    return {{"id", m.id}, {"status", m.status}, {"to", m.to}, {"from", m.from}, {"date", OrNull(m.date)}};
}

nlohmann::json ToJson(const Message& m)
{
    return {{"id", m.id},
            {"folder", m.folder},
            {"status", m.status},
            {"to", m.to},
            {"from", m.from},
            {"text", m.text},
            {"statusText", m.statusText},
            {"created", OrNull(m.created)},
            {"completed", OrNull(m.completed)},
            {"received", OrNull(m.received)},
            {"retries", m.retries}};
}

nlohmann::json ToJson(const std::string& id, const MessageStatus& s)
{
    return {{"id", id}, {"status", s.status}, {"statusText", s.statusText}, {"date", OrNull(s.date)}};
}

nlohmann::json ToJson(const Device& d)
{
    std::optional<int> dbm = SignalDbm(d.signal);
    return {{"id", d.id},
            {"name", d.name},
            {"state", d.state},
            {"signal", dbm ? nlohmann::json(d.signal) : nlohmann::json(nullptr)},
            {"signalDbm", dbm ? nlohmann::json(*dbm) : nlohmann::json(nullptr)},
            {"registration", OrNull(d.registration)},
            {"operator", OrNull(d.op)}};
}

nlohmann::json ToJson(const Event& e)
{
    if (e.kind == Event::Kind::Received)
        return {{"event", "received"}, {"id", e.id}, {"sender", e.sender}, {"device", e.device}};
    return {{"event", "status"}, {"id", e.id}, {"status", e.status}, {"statusText", e.statusText}};
}

} // namespace velmo::gw
