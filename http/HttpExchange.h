// One HTTP request as velmo-http's endpoints see it, and the answer they
// give: plain values, whatever carried them (HttpServer).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmo::http {

struct Request {
    std::string method;                                        // "GET", "POST", ... as sent
    std::string path;                                          // the target up to "?", not decoded
    std::string query;                                         // the target after "?", not decoded; empty when none
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, in order
    std::string body;
    std::string peer;  // the client's address, for the logs

    // The first value of the header name (lower case); empty when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;  // beside Content-Type and Content-Length
    std::string body;
};

// The answer {"error": message} with status, as every error of velmo-http.
Response ErrorResponse(int status, const std::string& message);

}  // namespace velmo::http
