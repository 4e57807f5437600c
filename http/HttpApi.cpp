#include "http/HttpApi.h"

#include "gatewayclient/GatewayJson.h"
#include "interfaces/StatusWords.h"

#include <nlohmann/json.hpp>
#include "http/AlertText.h"
#include "http/Metrics.h"

#include <cstdio>
#include <memory>
#include <sstream>

namespace velmo::http {

namespace {

using nlohmann::json;

constexpr char kJson[] = "application/json";

void Answer(httplib::Response& res, int status, const std::string& text)
{
    res.status = status;
    res.set_content(text + "\n", kJson);
}

void Answer(httplib::Response& res, int status, const json& body) { Answer(res, status, body.dump()); }

void Fail(httplib::Response& res, int status, const std::string& message)
{
    Answer(res, status, json{{"error", message}});
}

// The gateway client of this server thread: one bus connection per thread,
// made at its first request and made again after the bus failed it.
std::unique_ptr<gatewayclient::GatewayClient>& ThreadClient()
{
    thread_local std::unique_ptr<gatewayclient::GatewayClient> client;
    return client;
}

gatewayclient::GatewayClient* Gateway(httplib::Response& res)
{
    auto& client = ThreadClient();
    if (!client) {
        std::string why;
        client = gatewayclient::GatewayClient::Connect("", why);
        if (!client) {
            std::fprintf(stderr, "velmo-http: %s\n", why.c_str());
            Fail(res, 503, why);
        }
    }
    return client.get();
}

// The HTTP answer to a failed gateway call.
void GatewayFailed(httplib::Response& res)
{
    auto& client = ThreadClient();
    const std::string name = client->ErrorName(), text = client->Error();
    if (name == gatewayclient::kInvalidArgsError)
        return Fail(res, 400, text);
    if (name == gatewayclient::kNotFoundError)
        return Fail(res, 404, text);
    if (name == gatewayclient::kRefusedError) {
        res.set_header("Retry-After", "60");
        return Fail(res, 503, text);
    }
    // The bus or the service failed: the next request connects afresh.
    std::fprintf(stderr, "velmo-http: %s (%s)\n", text.c_str(), name.c_str());
    client.reset();
    Fail(res, name == gatewayclient::kAccessDeniedError ? 500 : 503, text);
}

// The values of a query or form field, each "a,b" split; a leading space
// is the "+" of an international number that was not written as %2B.
std::vector<std::string> Values(const httplib::Request& req, const char* key)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < req.get_param_value_count(key); ++i) {
        std::stringstream all(req.get_param_value(key, i));
        for (std::string v; std::getline(all, v, ',');) {
            auto first = v.find_first_not_of(' ');
            if (first == std::string::npos)
                continue;
            bool plus = first > 0 && std::isdigit(static_cast<unsigned char>(v[first]));
            out.push_back((plus ? "+" : "") + v.substr(first, v.find_last_not_of(' ') - first + 1));
        }
    }
    return out;
}

bool IsJson(const httplib::Request& req)
{
    std::string type = req.get_header_value("Content-Type");
    return type.rfind(kJson, 0) == 0;
}

void PostMessage(const httplib::Request& req, httplib::Response& res)
{
    std::string to, text;
    if (IsJson(req)) {
        json body = json::parse(req.body, nullptr, false);
        if (body.is_discarded())
            return Fail(res, 400, "the body is not JSON");
        if (!body.is_object())
            return Fail(res, 400, "the body is not a JSON object");
        for (const char* field : {"to", "text"})
            if (!body.contains(field) || !body[field].is_string())
                return Fail(res, 400, std::string("\"") + field + "\" is missing or not a string");
        to = body["to"].get<std::string>();
        text = body["text"].get<std::string>();
    } else if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
        for (const char* field : {"to", "text"})
            if (!req.has_param(field))
                return Fail(res, 400, std::string("\"") + field + "\" is missing");
        auto recipients = Values(req, "to");
        to = recipients.empty() ? std::string() : recipients[0];
        text = req.get_param_value("text");
    } else {
        return Fail(res, 415, "send JSON (application/json) or a form (application/x-www-form-urlencoded)");
    }
    gatewayclient::GatewayClient* gateway = Gateway(res);
    if (!gateway)
        return;
    std::string id;
    if (!gateway->Send(to, text, id))
        return GatewayFailed(res);
    res.set_header("Location", "/v1/messages/" + id);
    Answer(res, 201, json{{"id", id}, {"status", status::kQueued}});
}

void GetMessage(const httplib::Request& req, httplib::Response& res)
{
    gatewayclient::GatewayClient* gateway = Gateway(res);
    if (!gateway)
        return;
    gatewayclient::Message m;
    if (!gateway->Get(req.matches[1].str(), m))
        return GatewayFailed(res);
    Answer(res, 200, gatewayclient::JsonText(m, -1));
}

void GetDevices(const httplib::Request&, httplib::Response& res)
{
    gatewayclient::GatewayClient* gateway = Gateway(res);
    if (!gateway)
        return;
    std::vector<gatewayclient::Device> devices;
    if (!gateway->Devices(devices))
        return GatewayFailed(res);
    Answer(res, 200, gatewayclient::JsonText(devices, -1));
}

void PostAlert(const httplib::Request& req, httplib::Response& res, const HttpConfig& config)
{
    if (!IsJson(req))
        return Fail(res, 415, "an Alertmanager notification is JSON (application/json)");
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded())
        return Fail(res, 400, "the body is not JSON");
    std::string problem;
    std::optional<std::string> text = AlertText(body, config.alertMaxLength, problem);
    if (!text)
        return Fail(res, 400, problem);
    std::vector<std::string> recipients = Values(req, "to");
    if (recipients.empty())
        recipients = config.alertRecipients;
    if (recipients.empty())
        return Fail(res, 400,
                    "no recipient: give \"to\" in the receiver's URL (?to=%2B491711234567) or "
                    "alert_recipients in the configuration");
    gatewayclient::GatewayClient* gateway = Gateway(res);
    if (!gateway)
        return;
    json sent = json::array();
    for (const std::string& to : recipients) {
        std::string id;
        if (!gateway->Send(to, *text, id)) {
            // Those queued already stay queued; Alertmanager will send the group again.
            return GatewayFailed(res);
        }
        sent.push_back(json{{"to", to}, {"id", id}});
    }
    Answer(res, 201, json{{"text", *text}, {"messages", sent}});
}

void GetMetrics(const httplib::Request&, httplib::Response& res)
{
    gatewayclient::GatewayClient* gateway = Gateway(res);
    if (!gateway)
        return;
    gatewayclient::Counters counters;
    std::vector<gatewayclient::Device> devices;
    if (!gateway->ReadCounters(counters) || !gateway->Devices(devices))
        return GatewayFailed(res);
    res.set_content(RenderMetrics(counters, devices), "text/plain; version=0.0.4; charset=utf-8");
}

}  // namespace

void InstallApi(httplib::Server& server, const HttpConfig& config, const TokenFile& tokens)
{
    server.set_payload_max_length(config.maxBody);
    // A client that keeps its connection (a monitoring system, a
    // benchmark) is not made to reconnect every few requests.
    server.set_keep_alive_max_count(1000);
    // Answers go out at once, not held back for the client's next packet.
    server.set_tcp_nodelay(true);
    server.set_pre_routing_handler([&config, &tokens](const httplib::Request& req, httplib::Response& res) {
        if (req.path == "/metrics" && config.openMetrics)
            return httplib::Server::HandlerResponse::Unhandled;
        if (tokens.Accepts(req.get_header_value("Authorization")))
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", "Bearer realm=\"velmo\"");
        Fail(res, 401,
             req.has_header("Authorization") ? "the token is not valid"
                                             : "a bearer token is needed (Authorization: Bearer TOKEN)");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Post("/v1/messages", PostMessage);
    server.Get(R"(/v1/messages/([^/]+))", GetMessage);
    server.Get("/v1/devices", GetDevices);
    server.Post("/v1/alertmanager",
                [&config](const httplib::Request& req, httplib::Response& res) { PostAlert(req, res, config); });
    server.Get("/metrics", GetMetrics);
    // Answers the library makes itself (no such path, a body over the
    // limit, a malformed request) get a JSON body too.
    server.set_error_handler([&config](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty())
            return;
        switch (res.status) {
        case 404: return Fail(res, 404, "no such endpoint: " + req.method + " " + req.path);
        case 413: return Fail(res, 413, "the body is longer than " + std::to_string(config.maxBody) + " bytes");
        default:
            return Fail(res, res.status, "the request cannot be handled (HTTP " + std::to_string(res.status) + ")");
        }
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Fail(res, 500, "the request could not be handled");
    });
}

}  // namespace velmo::http
