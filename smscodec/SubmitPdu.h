// SMS-SUBMIT encoding: a destination number and a text become the
// hexadecimal PDU that follows "AT+CMGS=%d" in PDU mode.
//
// Fixed header: empty service-centre part ("00", left out when noSmsc is
// non-zero), first octet 11, message reference 00, PID 00, DCS 00 (7-bit
// default alphabet), relative validity AA (four days). EncodeSubmit may set
// TP-SRR (a status report is asked for) and another relative validity. The text is cut to
// 160 characters, converted with LatinToGsm and packed 7 bits a character.
// The encoder never fails: characters in the number are copied as they
// stand, and the modem judges them.
//
// EncodeSubmit is the whole sending side: the 8-bit path above by default,
// or, with fullAlphabet, GSM 7-bit with the extension table whenever every
// character has a code there and UCS2 otherwise; a text longer than one
// part goes out as up to maxParts concatenated parts (user data header
// 05 00 03: reference, parts, part), never splitting an escape sequence or
// a surrogate pair. What does not fit is cut, and the result says so.
#pragma once

#include "smscodec/DeliverPdu.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::sms {

// Packs 7-bit codes as GSM 03.38 does: c codes give ceil(7c / 8) octets,
// the first code in the low 7 bits of the first octet, spare high bits 0.
std::vector<std::uint8_t> PackSeptets(const std::string& codes);

// The PDU in upper-case hexadecimal, without Ctrl-Z or line end.
std::string EncodeSubmitPdu(std::string number, std::string text, std::uint16_t noSmsc);

// The length for "AT+CMGS=%d": the octets after the service-centre part.
int SubmitLength(const std::string& pdu, std::uint16_t noSmsc);

// The relative validity octet (TP-VP) of four days.
constexpr unsigned kFourDays = 0xAA;

// The relative validity octet for a period of seconds: the shortest period
// the octet can say that is not shorter than asked (5 minutes steps to 12
// hours, 30 minutes to 24 hours, days to 30 days, weeks to 63 weeks),
// 5 minutes at the least and 63 weeks at the most.
unsigned ValidityOctet(std::uint64_t seconds);
// The period a relative validity octet says, in seconds.
std::uint64_t ValiditySeconds(unsigned octet);

// What the device's parameters choose for sending.
struct SubmitOptions {
    std::uint16_t noSmsc = 0;
    bool fullAlphabet = false;      // the extension table and UCS2; false: the 8-bit Latin table
    unsigned maxParts = 1;          // most parts of a long text, 1 to 255
    unsigned reference = 0;         // the concatenation reference (its low 8 bits) of a text in several parts
    bool statusReport = false;      // TP-SRR: the network reports delivery
    unsigned validity = kFourDays;  // TP-VP, relative format (ValidityOctet)
};

struct SubmitMessage {
    std::vector<std::string> pdus;  // one per part, in order; at least one
    Coding coding = Coding::Gsm7;
    bool cut = false;  // the text did not fit and was cut
};

// Septets of one part: 160 alone, 153 beside a concatenation header; UCS2
// characters (UTF-16 units): 70 and 67.
constexpr std::size_t kSeptetsAlone = 160;
constexpr std::size_t kSeptetsInPart = 153;
constexpr std::size_t kUnitsAlone = 70;
constexpr std::size_t kUnitsInPart = 67;

// The PDUs of one message to number (8-bit, as EncodeSubmitPdu takes it).
// Never fails; an empty text gives one empty part.
SubmitMessage EncodeSubmit(const std::string& number, std::u16string_view text, const SubmitOptions& options);

}  // namespace velmo::sms
