// The simulator's own PDU code, written apart from the device's so that
// tests compare two readings of GSM 03.40: SMS-DELIVER encoding for the
// messages it delivers and SMS-SUBMIT decoding for the ones it is sent.
// Text is UTF-8 on both sides; the 7-bit default alphabet only.
#pragma once

#include <optional>
#include <string>

namespace modemsim {

struct Submit {
    std::string number;
    std::string text;
};

// An SMS-DELIVER from sender with text, service centre smsc, as hex.
std::string EncodeDeliver(const std::string& smsc, const std::string& sender, const std::string& text);
// The number of TPDU octets of a DELIVER made by EncodeDeliver (for +CMT and +CMGR).
int DeliverTpduLength(const std::string& pdu);
// Reads an SMS-SUBMIT in hex whose TPDU is tpduLength octets long (the
// service-centre field is present when the PDU is longer); nothing when it
// does not parse.
std::optional<Submit> DecodeSubmit(const std::string& hex, int tpduLength);

} // namespace modemsim
