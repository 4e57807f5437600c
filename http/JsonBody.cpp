#include "http/JsonBody.h"

namespace velmo::http {

bool NestingWithin(std::string_view text, std::size_t maxDepth)
{
    std::size_t depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

std::optional<nlohmann::json> ParseJsonBody(std::string_view body, std::string& why)
{
    if (!NestingWithin(body, kMaxJsonDepth)) {
        why = "the JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
        return std::nullopt;
    }
    nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
    if (value.is_discarded()) {
        why = "the body is not JSON";
        return std::nullopt;
    }
    return value;
}

}  // namespace velmo::http
