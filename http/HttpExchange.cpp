#include "http/HttpExchange.h"

#include <nlohmann/json.hpp>

namespace velmo::http {

std::string Request::Header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return {};
}

bool Request::HasHeader(std::string_view name) const
{
    for (const auto& header : headers)
        if (header.first == name)
            return true;
    return false;
}

Response ErrorResponse(int status, const std::string& message)
{
    Response res;
    res.status = status;
    // A message may quote what a client sent: invalid UTF-8 is replaced, never thrown on.
    res.body = nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return res;
}

}  // namespace velmo::http
