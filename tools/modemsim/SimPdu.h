// The simulator's own PDU code, written apart from the device's so that
// tests compare two readings of GSM 03.40: SMS-DELIVER encoding for the
// messages it delivers and SMS-SUBMIT decoding for the ones it is sent.
// Text is UTF-8 on both sides.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace modemsim {

// A decoded SMS-SUBMIT. part, total and reference come from a
// concatenation header (8-bit or 16-bit reference); total is 0 without one.
struct Submit {
    std::string number;
    std::string text;
    int reference = 0;
    int part = 0;
    int total = 0;
    bool reportRequested = false;  // TP-SRR
    int validity = -1;             // the relative TP-VP octet; -1 for none or another format
};

// An SMS-STATUS-REPORT, as hex with the service-centre part, on the message
// the network took under reference to number: TP-ST status, both times
// the modem's clock, written one hour east of UTC (zone +04 quarters).
std::string EncodeStatusReport(const std::string& smsc, int reference, const std::string& number, int status);

// The SMS-DELIVER PDUs, as hex, that carry text from sender through service
// centre smsc: GSM 7-bit (with the extension table) when every character
// has septets, else UCS2. A text longer than one PDU holds (160 septets, 70
// UTF-16 units) is cut into parts of 153 septets or 67 units, each with a
// concatenation header (8-bit reference from sender and text); a cut never
// splits an escape pair or a surrogate pair. Never empty.
std::vector<std::string> EncodeDeliver(const std::string& smsc, const std::string& sender, const std::string& text);
// The number of TPDU octets of a DELIVER made by EncodeDeliver (for +CMT and +CMGR).
int DeliverTpduLength(const std::string& pdu);
// Reads an SMS-SUBMIT in hex whose TPDU is tpduLength octets long (the
// service-centre field is present when the PDU is longer): GSM 7-bit with
// the extension table, 8-bit data (read as Latin-1) or UCS2, with or without
// a user-data header. Nothing when it does not parse.
std::optional<Submit> DecodeSubmit(const std::string& hex, int tpduLength);

}  // namespace modemsim
