// Text conversion between the encodings the system meets.
//
// Inside the service text is UTF-16; at the OS, the bus and syslog it is
// UTF-8; the GSM device's 8-bit "ANSI code page" is Windows-1252. Conversions
// never fail: malformed UTF-8 or an unpaired surrogate becomes U+FFFD, and a
// character that Windows-1252 lacks becomes "?" (one per code point).
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>

namespace velmo {
VELMO_PLATFORM_API std::string Utf16ToUtf8(std::u16string_view text);
VELMO_PLATFORM_API std::u16string Utf8ToUtf16(std::string_view text);
VELMO_PLATFORM_API std::string Utf16ToAnsi(std::u16string_view text);
VELMO_PLATFORM_API std::u16string AnsiToUtf16(std::string_view text);
// Length of a zero-terminated UTF-16 text; 0 for null.
VELMO_PLATFORM_API std::size_t WideLength(const char16_t* text);
// ASCII and Latin-1 letters folded to upper case, as registry and member
// names compare.
VELMO_PLATFORM_API char16_t FoldCase(char16_t c);
VELMO_PLATFORM_API std::u16string FoldCase(std::u16string_view text);
VELMO_PLATFORM_API bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// text with every control character written out, so that no value from
// outside can start a line of its own in a log: line end, carriage return
// and tab as \n, \r, \t, the others (U+0000 to U+001F, U+007F) as \xNN.
// Everything else, a backslash too, stays as it is.
VELMO_PLATFORM_API std::string EscapeControls(std::string_view text);
// Whether the whole of text matches the shell pattern (fnmatch without
// flags: "*" any run, "?" one character, "[0-9]" one of a set, "\\" takes
// the next character as it is). False when either holds a NUL.
VELMO_PLATFORM_API bool MatchesShellPattern(std::string_view pattern, std::string_view text);
}  // namespace velmo
