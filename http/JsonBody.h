// A request body read as JSON, its nesting bounded before the parser sees
// it: no client can make velmo-http build, copy or free a value nested
// deeper than kMaxJsonDepth.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmo::http {

inline constexpr std::size_t kMaxJsonDepth = 32;

// Whether no array or object of text (JSON or not) lies more than
// maxDepth levels deep; brackets inside strings do not count.
bool NestingWithin(std::string_view text, std::size_t maxDepth);

// The JSON value of body; nullopt with the reason for the client in why.
std::optional<nlohmann::json> ParseJsonBody(std::string_view body, std::string& why);

}  // namespace velmo::http
