// The simulator's own text tables, written apart from the device's: the
// GSM 7-bit default alphabet with its extension table, and UTF-8 and UTF-16
// conversions. Nothing here fails: malformed UTF-8 reads as '?', a code
// point the GSM alphabet lacks has no septets.
#pragma once

#include <string>
#include <vector>

namespace modemsim {

// Code points of a UTF-8 text; each malformed or truncated sequence is one '?'.
std::vector<char32_t> CodePoints(const std::string& utf8);
// cp appended as UTF-8 (four octets at most).
void AppendUtf8(std::string& out, char32_t cp);

// The septets of cp: one for the default alphabet, two (0x1B and the code)
// for the extension table, none when the alphabet lacks it.
std::vector<unsigned> SeptetsOf(char32_t cp);
// The code point of a septet, or of the escape 0x1B followed by next (next
// is then consumed; an escape before a code the extension table lacks is
// dropped and next read from the default alphabet, as phones do).
char32_t CharOfSeptet(unsigned septet, unsigned next, bool& consumedNext);

// UTF-16 code units of cp (a surrogate pair above U+FFFF).
std::vector<unsigned> Utf16Units(char32_t cp);

}  // namespace modemsim
