// Reading the PDUs a modem gives in PDU mode: an SMS-DELIVER (a received
// message, after "+CMGR", "+CMGL" or "+CMT") or an SMS-SUBMIT (one waiting
// in the modem's memory, or one this system made, for checking by hand),
// into the address, the text and the user data header.
//
// Everything is read by the header's own fields (3GPP TS 23.040): the
// service-centre length (00 is a valid empty part), the message type, the
// address, the data coding scheme (GSM 7-bit with its extension table,
// 8-bit data, or UCS2 as UTF-16 with surrogate pairs kept), the user data
// length in septets or octets, and a user data header when TP-UDHI is set
// (skipped, with a concatenation element 00 or 08 read out). A PDU that
// does not hold what its header announces is refused: nothing is guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmo::sms {

enum class Coding { Gsm7, EightBit, Ucs2 };

// One part of a concatenated message (UDH element 00 or 08).
struct Concatenation {
    unsigned reference;  // 0..255, or 0..65535 for the 16-bit element
    bool sixteenBit;
    unsigned total;     // parts in all, 1 or more
    unsigned sequence;  // this part, 1..total
};

struct DecodedPdu {
    bool submit = false;     // an SMS-SUBMIT; else an SMS-DELIVER
    std::u16string address;  // the sender of a DELIVER, the recipient of a SUBMIT: "+" and digits, or a name
    Coding coding = Coding::Gsm7;
    std::u16string text;  // 8-bit data as one character per octet (U+0000..U+00FF)
    std::string header;   // the user data header's octets in hex, without its length octet; empty for none
    std::optional<Concatenation> concatenation;
};

// The PDU in hex digits (either case). With noSmsc 0 it begins with the
// service-centre part; when the PDU does not read that way, it is tried
// without one (some modems leave it out), and the other way round for
// noSmsc non-zero. nullopt when it reads neither way: a type other than
// DELIVER or SUBMIT, a field beyond the end, a user data length beyond the
// data or short of it (octets left over), a header longer than the data, or
// characters that are not hex.
std::optional<DecodedPdu> DecodePdu(std::string_view hex, std::uint16_t noSmsc);
// The same in one reading only: withSmsc, a service-centre part comes first.
std::optional<DecodedPdu> DecodePduAs(std::string_view hex, bool withSmsc);

}  // namespace velmo::sms
