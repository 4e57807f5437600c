// The GSM 7-bit default alphabet of 3GPP TS 23.038 with its extension
// table, against Unicode: the characters as they are, Greek capitals and
// the euro sign included, one septet for a character of the basic table and
// two (the escape 0x1B, then the character's code) for one of the extension
// table. Also the packing of septets into octets at any bit offset, which
// a user data header shifts the text to.
//
// Pure functions; no tables change at run time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::sms {

constexpr char kGsmEscape = 0x1B;

// The septets of text in the default alphabet with its extension table;
// false (and septets unchanged) when a character has no code there.
bool EncodeGsm7(std::u16string_view text, std::string& septets);
// How many septets a character takes: 1 or 2, 0 when it has no code.
int Gsm7Width(char16_t c);
// The text of septets: an escape followed by a code of the extension table
// gives that character; followed by any other code, the basic table's
// character for it; an escape at the end gives nothing, and two escapes a
// space (the reserved second extension).
std::u16string DecodeGsm7(std::string_view septets);

// Packs 7-bit codes into octets, the first code starting at bit startBit of
// the first octet (bits below it are left 0, for a user data header that
// the caller puts there); spare high bits of the last octet are 0. The
// result holds ceil((startBit + 7 * codes) / 8) octets.
std::vector<std::uint8_t> PackSeptetsAt(std::string_view codes, unsigned startBit);
// count codes read from octets starting at bit startBit; fewer when the
// octets run out.
std::string UnpackSeptetsAt(std::span<const std::uint8_t> octets, unsigned startBit, std::size_t count);

}  // namespace velmo::sms
