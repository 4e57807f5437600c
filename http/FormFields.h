// The fields of a URL's query or of a form body
// (application/x-www-form-urlencoded): "to=%2B4917&text=disk+full".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmo::http {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The fields of text in order, names and values decoded ("+" is a space,
// "%XX" a byte; a "%" not followed by two hex digits stays as it is). A
// part without "=" is a name with an empty value; empty parts are
// skipped. nullopt when text holds more than maxFields fields.
std::optional<Fields> ParseFields(std::string_view text, std::size_t maxFields);

// Every value of the field name, each split at commas and trimmed of
// spaces, empty ones left out. A value that starts with a space before a
// digit had its "+" turned into that space by a client that did not write
// it as %2B: the "+" is given back.
std::vector<std::string> Recipients(const Fields& fields, std::string_view name);

// Whether the field name is present.
bool HasField(const Fields& fields, std::string_view name);

// The first value of the field name; empty when absent.
std::string FirstValue(const Fields& fields, std::string_view name);

}  // namespace velmo::http
