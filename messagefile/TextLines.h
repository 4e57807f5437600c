// Message and status texts as programs show them: the service writes CRLF
// line ends into status texts, and modems deliver texts with CR, LF or
// CRLF; clients get one kind.
#pragma once

#include <string>
#include <string_view>

namespace velmo::messagefile {

// The text with every line end (CRLF, or a lone CR or LF) made "\n", and
// no line end at either end.
std::string PlainLines(std::string_view text);
// The text on one line: each run of line ends (CR and LF) between text
// becomes "; ", and those at either end go.
std::string OneLine(std::string_view text);

}  // namespace velmo::messagefile
