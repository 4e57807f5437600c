// velmo-http: the gateway's HTTP front end, a client of the service's bus
// like velmo. It runs as its own user (a member of the group velmo) under
// its own unit; TLS is left to a reverse proxy (docs/velmo-http.md).
#include "http/HttpApi.h"
#include "http/HttpConfig.h"
#include "http/HttpServer.h"
#include "http/TokenFile.h"

#include "interfaces/StandardOptions.h"
#include "platform/Timing.h"
#include "platform/StopSignals.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

const char kUsage[] = "usage: velmo-http [--config FILE] [--listen ADDRESS:PORT] [--check]\n"
                      "       velmo-http --help | --version\n"
                      "\n"
                      "Serves the Velmo gateway over HTTP: POST /v1/messages, GET /v1/messages/ID,\n"
                      "GET /v1/devices, POST /v1/alertmanager and GET /metrics, each with a bearer\n"
                      "token from the token file. The configuration is /etc/velmo/http.conf unless\n"
                      "--config names another; --listen overrides its listen setting; --check reads\n"
                      "the configuration and the tokens and exits (0 when both are good).\n"
                      "See velmo-http(8).\n";

constexpr char kDefaultConfig[] = "/etc/velmo/http.conf";

// Serves until SIGTERM or SIGINT; the exit code.
int Serve(const velmo::http::HttpConfig& config, const velmo::http::TokenFile& tokens)
{
    // Through DesignWait, so tests shorten the deadlines as every fixed wait.
    auto wait = [](std::size_t seconds) {
        return std::chrono::milliseconds(velmo::DesignWait(static_cast<DWORD>(seconds * 1000)));
    };
    velmo::http::ServerLimits limits;
    limits.maxBody = config.maxBody;
    limits.maxHeaderBytes = config.maxHeaderBytes;
    limits.maxHeaders = config.maxHeaders;
    limits.headerTimeout = wait(config.headerTimeout);
    limits.requestTimeout = wait(config.requestTimeout);
    limits.maxConnections = config.maxConnections;
    limits.maxClientConnections = config.maxClientConnections;
    limits.threads = config.threads;
    velmo::http::HttpServer server(limits, [&config, &tokens](const velmo::http::Request& req) {
        return velmo::http::Serve(req, config, tokens);
    });
    // SIGTERM and SIGINT end the server; taken before any thread starts.
    if (!velmo::OnStopSignals([&server](velmo::StopSignal) { server.Stop(); }))
        std::fprintf(stderr, "velmo-http: SIGTERM cannot be taken: it ends the program at once\n");
    std::string why;
    if (!server.Listen(config.address, config.port, why)) {
        std::fprintf(stderr, "velmo-http: %s\n", why.c_str());
        return 1;
    }
    std::fprintf(stderr, "velmo-http: listening on %s port %d with %zu token(s)%s\n", config.address.c_str(),
                 config.port, tokens.Count(), config.openMetrics ? ", /metrics open" : "");
    server.Run();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (auto answered = velmo::AnswerStandardOptions(argc, argv, "velmo-http", kUsage))
        return *answered;
    std::string configPath = kDefaultConfig, listen;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--config" || a == "--listen") && i + 1 < argc)
            (a == "--config" ? configPath : listen) = argv[++i];
        else if (a.rfind("--config=", 0) == 0)
            configPath = a.substr(9);
        else if (a.rfind("--listen=", 0) == 0)
            listen = a.substr(9);
        else if (a == "--check")
            check = true;
        else
            return velmo::UsageError("velmo-http", "unknown option " + a, kUsage);
    }

    std::ifstream file(configPath);
    if (!file) {
        std::fprintf(stderr, "velmo-http: the configuration %s cannot be read\n", configPath.c_str());
        return 1;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> errors;
    auto config = velmo::http::ParseHttpConfig(text.str(), errors);
    if (!config) {
        for (const std::string& e : errors)
            std::fprintf(stderr, "velmo-http: %s %s\n", configPath.c_str(), e.c_str());
        return 1;
    }
    if (!listen.empty() && !velmo::http::ParseListen(listen, *config))
        return velmo::UsageError("velmo-http", "--listen takes ADDRESS:PORT, [IPV6]:PORT or :PORT", kUsage);
    std::string why;
    auto tokens = velmo::http::TokenFile::Load(config->tokensFile, why);
    if (!tokens) {
        std::fprintf(stderr, "velmo-http: %s\n", why.c_str());
        return 1;
    }
    if (tokens->Count() == 0)
        std::fprintf(stderr, "velmo-http: %s holds no token: every request will be refused\n",
                     config->tokensFile.c_str());
    if (check) {
        std::printf("velmo-http: the configuration and %zu token(s) are good\n", tokens->Count());
        return 0;
    }

    return Serve(*config, *tokens);
}
