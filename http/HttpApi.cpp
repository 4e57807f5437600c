#include "http/HttpApi.h"

#include "gatewayclient/GatewayJson.h"
#include "http/AlertText.h"
#include "http/FormFields.h"
#include "http/JsonBody.h"
#include "http/MessageFields.h"
#include "http/Metrics.h"
#include "interfaces/StatusWords.h"
#include "platform/Text.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <set>

namespace velmo::http {

namespace {

using nlohmann::json;

Response Answer(int status, const json& body)
{
    Response res;
    res.status = status;
    res.body = body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    return res;
}

// The gateway client of this server thread: one bus connection per thread,
// made at its first request and made again after the bus failed it.
std::unique_ptr<gatewayclient::GatewayClient>& ThreadClient()
{
    thread_local std::unique_ptr<gatewayclient::GatewayClient> client;
    return client;
}

using GatewayCall = std::function<Response(gatewayclient::GatewayClient& gateway)>;

// call's answer on the thread's gateway; 503 when the bus cannot be reached.
Response WithGateway(const GatewayCall& call)
{
    auto& client = ThreadClient();
    if (!client) {
        std::string why;
        client = gatewayclient::GatewayClient::Connect("", why);
        if (!client) {
            std::fprintf(stderr, "velmo-http: %s\n", EscapeControls(why).c_str());
            return ErrorResponse(503, why);
        }
    }
    return call(*client);
}

// A 200 answer with a JSON text.
Response Ok(std::string jsonText)
{
    Response res;
    res.body = std::move(jsonText) + "\n";
    return res;
}

// The HTTP answer to a failed gateway call.
Response GatewayFailed()
{
    auto& client = ThreadClient();
    const std::string name = client->ErrorName(), text = client->Error();
    if (name == gatewayclient::kInvalidArgsError)
        return ErrorResponse(400, text);
    if (name == gatewayclient::kNotFoundError)
        return ErrorResponse(404, text);
    if (name == gatewayclient::kRefusedError) {
        Response res = ErrorResponse(503, text);
        res.headers.emplace_back("Retry-After", "60");
        return res;
    }
    // The bus or the service failed: the next request connects afresh.
    std::fprintf(stderr, "velmo-http: %s (%s)\n", EscapeControls(text).c_str(), EscapeControls(name).c_str());
    client.reset();
    return ErrorResponse(name == gatewayclient::kAccessDeniedError ? 500 : 503, text);
}

Response PostMessage(const Request& req)
{
    NewMessage message;
    std::string error;
    if (int status = ReadMessageFields(req, message, error))
        return ErrorResponse(status, error);
    return WithGateway([&](gatewayclient::GatewayClient& gateway) {
        std::string id;
        if (!gateway.Send(message.to, message.text, id, message.expire))
            return GatewayFailed();
        Response res = Answer(201, json{{"id", id}, {"status", status::kQueued}});
        res.headers.emplace_back("Location", "/v1/messages/" + id);
        return res;
    });
}

Response GetMessage(const std::string& id)
{
    return WithGateway([&](gatewayclient::GatewayClient& gateway) {
        gatewayclient::Message m;
        return gateway.Get(id, m) ? Ok(gatewayclient::JsonText(m, -1)) : GatewayFailed();
    });
}

Response GetDevices()
{
    return WithGateway([](gatewayclient::GatewayClient& gateway) {
        std::vector<gatewayclient::Device> devices;
        return gateway.Devices(devices) ? Ok(gatewayclient::JsonText(devices, -1)) : GatewayFailed();
    });
}

Response PostAlert(const Request& req, const HttpConfig& config)
{
    if (!IsJson(req))
        return ErrorResponse(415, "an Alertmanager notification is JSON (application/json)");
    std::string problem;
    std::optional<json> body = ParseJsonBody(req.body, problem);
    if (!body)
        return ErrorResponse(400, problem);
    std::size_t alertsLeftOut = 0;
    std::optional<std::string> text =
        AlertText(*body, config.alertMaxLength, config.alertMaxAlerts, problem, &alertsLeftOut);
    if (!text)
        return ErrorResponse(400, problem);
    std::optional<Fields> query = ParseFields(req.query, kMaxFields);
    if (!query)
        return ErrorResponse(400, "the query has more than " + std::to_string(kMaxFields) + " fields");
    std::vector<std::string> asked = Recipients(*query, "to");
    if (asked.empty())
        asked = config.alertRecipients;
    if (asked.empty())
        return ErrorResponse(400, "no recipient: give \"to\" in the receiver's URL (?to=%2B491711234567) or "
                                  "alert_recipients in the configuration");
    // One SMS per number, however often it is named, and no more than the
    // configured number of recipients.
    std::vector<std::string> recipients, leftOut;
    std::set<std::string> seen;
    for (const std::string& to : asked) {
        if (!seen.insert(to).second)
            continue;
        (recipients.size() < config.alertMaxRecipients ? recipients : leftOut).push_back(to);
    }
    return WithGateway([&](gatewayclient::GatewayClient& gateway) {
        json sent = json::array();
        for (const std::string& to : recipients) {
            std::string id;
            if (!gateway.Send(to, *text, id))
                return GatewayFailed();  // those queued stay queued; Alertmanager sends the group again
            sent.push_back(json{{"to", to}, {"id", id}});
        }
        json answer{{"text", *text}, {"messages", sent}};
        if (!leftOut.empty() || alertsLeftOut > 0)
            answer["left_out"] = json{{"recipients", leftOut}, {"alerts", alertsLeftOut}};
        return Answer(201, answer);
    });
}

Response GetMetrics()
{
    return WithGateway([](gatewayclient::GatewayClient& gateway) {
        gatewayclient::Counters counters;
        std::vector<gatewayclient::Device> devices;
        if (!gateway.ReadCounters(counters) || !gateway.Devices(devices))
            return GatewayFailed();
        Response res;
        res.contentType = "text/plain; version=0.0.4; charset=utf-8";
        res.body = RenderMetrics(counters, devices);
        return res;
    });
}

Response WrongMethod(const Request& req, const char* allowed)
{
    Response res = ErrorResponse(405, req.method + " is not served at " + req.path + ": use " + allowed);
    res.headers.emplace_back("Allow", allowed);
    return res;
}

}  // namespace

Response Serve(const Request& req, const HttpConfig& config, const TokenFile& tokens)
{
    if (!(req.path == "/metrics" && config.openMetrics) && !tokens.Accepts(req.Header("authorization"))) {
        Response res = ErrorResponse(401, req.HasHeader("authorization")
                                              ? "the token is not valid"
                                              : "a bearer token is needed (Authorization: Bearer TOKEN)");
        res.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"velmo\"");
        return res;
    }
    const bool get = req.method == "GET", post = req.method == "POST";
    constexpr std::string_view kMessage = "/v1/messages/";
    if (req.path == "/v1/messages")
        return post ? PostMessage(req) : WrongMethod(req, "POST");
    if (req.path.starts_with(kMessage) && req.path.size() > kMessage.size() &&
        req.path.find('/', kMessage.size()) == std::string::npos)
        return get ? GetMessage(req.path.substr(kMessage.size())) : WrongMethod(req, "GET");
    if (req.path == "/v1/devices")
        return get ? GetDevices() : WrongMethod(req, "GET");
    if (req.path == "/v1/alertmanager")
        return post ? PostAlert(req, config) : WrongMethod(req, "POST");
    if (req.path == "/metrics")
        return get ? GetMetrics() : WrongMethod(req, "GET");
    return ErrorResponse(404, "no such endpoint: " + req.method + " " + req.path);
}

}  // namespace velmo::http
