// SMS-DELIVER decoding: the hexadecimal PDU that follows "+CMGR" or "+CMT"
// becomes the sender and the text.
//
// Nothing is rejected and nothing is read outside the input: a field that
// lies beyond the end of the string keeps its default, and characters that
// are not hexadecimal digits are read by ReadHexOctet's rule. The result is
// false only for an empty PDU. Only the 7-bit default alphabet is decoded
// (TP-DCS bits 3 and 2 both 0); any other coding gives an empty text. As in
// the 7-bit unpacking rule, a zero eighth septet of a group of seven octets
// yields no character, so filler bits add nothing, and a commercial at in
// the 8th, 16th, ... position is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo::gsm {

// Reads the two characters at pos as one octet and advances pos by two.
// The second character is the low digit and is evaluated first; an invalid
// (or missing) second character gives 0, an invalid first one the value of
// the second alone.
std::uint8_t ReadHexOctet(const std::string& hex, std::size_t& pos);

// GSM codes from the octets between pos and end (reading stops at the
// string's end as well); pos is advanced past what was read.
std::string UnpackSeptets(const std::string& hex, std::size_t& pos, std::size_t end);

bool DecodeDeliverPdu(const std::string& pdu, std::string& sender, std::string& text, std::uint16_t noSmsc);

// Whether pdu is an SMS-DELIVER that holds all it announces: an even number
// of hexadecimal digits; the service-centre part (unless noSmsc), the first
// octet with message type 0, the sender, TP-PID, TP-DCS, the time stamp and
// TP-UDL all present; and as many user-data octets as TP-UDL asks for
// (septets packed for the default alphabet, octets otherwise). A message
// that fails this is kept as the modem gave it rather than read.
bool DeliverPduWellFormed(const std::string& pdu, std::uint16_t noSmsc);

} // namespace velmo::gsm
