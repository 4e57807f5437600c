// velmo-http's settings, from its configuration file: one "name = value"
// per line, "#" starts a comment, blank lines are ignored
// (docs/velmo-http.md lists every name).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmo::http {

struct HttpConfig {
    std::string address = "127.0.0.1";  // where to listen; "::1", "0.0.0.0" ...
    int port = 9730;
    std::string tokensFile = "/etc/velmo/http-tokens";
    bool openMetrics = false;  // /metrics without a token
    std::vector<std::string> alertRecipients;
    std::size_t alertMaxLength = 160;        // characters of one alert SMS
    std::size_t alertMaxRecipients = 10;     // distinct recipients of one notification
    std::size_t alertMaxAlerts = 100;        // alerts of one notification that are read
    std::size_t maxBody = 64 * 1024;         // bytes of one request's body, chunked or not
    std::size_t maxHeaderBytes = 16 * 1024;  // bytes of a request's line and headers
    std::size_t maxHeaders = 100;            // header lines of one request
    std::size_t headerTimeout = 10;          // seconds for a request's line and headers
    std::size_t requestTimeout = 30;         // seconds for a whole request, body included
    std::size_t maxConnections = 512;        // connections open at once
    std::size_t maxClientConnections = 32;   // connections open at once from one address
    std::size_t threads = 8;                 // requests served at once
};

// "ADDRESS:PORT", "[IPV6]:PORT" or ":PORT" into config; false for anything else.
bool ParseListen(const std::string& text, HttpConfig& config);

// The settings of text, over the defaults. nullopt with every problem in
// errors ("line N: ..."), one per line that is wrong.
std::optional<HttpConfig> ParseHttpConfig(const std::string& text, std::vector<std::string>& errors);

}  // namespace velmo::http
