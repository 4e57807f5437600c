// Conversion between the device's 8-bit text (ISO 8859-1 layout) and the
// GSM 03.38 default alphabet, one character to one code.
//
// Both conversions work in place with a 256-entry table and keep the
// length. LatinToGsm gives codes 0x00..0x7F only: characters the alphabet
// lacks become a plain letter or "?". GsmToLatin writes the alphabet in
// ISO 8859-1 where that has the character; the Greek capitals and the escape
// code come out as the control character of the same value, and codes 0x80
// and above (which unpacking never gives) as "?". No escape sequences of the
// extension table are produced or read.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmo::sms {

extern const std::array<std::uint8_t, 256> kLatinToGsm;
extern const std::array<std::uint8_t, 256> kGsmToLatin;

void LatinToGsm(std::string& text);
void GsmToLatin(std::string& text);

}  // namespace velmo::sms
