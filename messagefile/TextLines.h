// Message and status texts as programs show them: the service writes CRLF
// line ends into status texts, and modems deliver texts with CR, LF or
// CRLF; clients get one kind.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmo::messagefile {

// The text with every line end (CRLF, or a lone CR or LF) made "\n", and
// no line end at either end.
std::string PlainLines(std::string_view text);
// The text on one line: each run of line ends (CR and LF) between text
// becomes "; ", and those at either end go.
std::string OneLine(std::string_view text);

// The longest recipient or sender a program is given: far beyond any
// number; only files kept from before the rules of a new message can hold
// longer ones.
inline constexpr std::size_t kMaxPartyUnits = 256;

// text (UTF-16) as UTF-8, cut to its first maxUnits units when longer
// (never inside a surrogate pair) and then ending in
// " [cut: N characters in all]": what a reply or a listing carries of a
// field that an old file may hold at any length.
std::string BoundedText(std::u16string_view text, std::size_t maxUnits);

}  // namespace velmo::messagefile
