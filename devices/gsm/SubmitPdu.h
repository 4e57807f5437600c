// SMS-SUBMIT encoding: a destination number and a text become the
// hexadecimal PDU that follows "AT+CMGS=%d" in PDU mode.
//
// Fixed header: empty service-centre part ("00", left out when noSmsc is
// non-zero), first octet 11, message reference 00, PID 00, DCS 00 (7-bit
// default alphabet), relative validity AA (four days). The text is cut to
// 160 characters, converted with LatinToGsm and packed 7 bits a character.
// The encoder never fails: characters in the number are copied as they
// stand, and the modem judges them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmo::gsm {

// Packs 7-bit codes as GSM 03.38 does: c codes give ceil(7c / 8) octets,
// the first code in the low 7 bits of the first octet, spare high bits 0.
std::vector<std::uint8_t> PackSeptets(const std::string& codes);

// The PDU in upper-case hexadecimal, without Ctrl-Z or line end.
std::string EncodeSubmitPdu(std::string number, std::string text, std::uint16_t noSmsc);

// The length for "AT+CMGS=%d": the octets after the service-centre part.
int SubmitLength(const std::string& pdu, std::uint16_t noSmsc);

} // namespace velmo::gsm
