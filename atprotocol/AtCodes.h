// The result codes of the AT dialogue, one line at a time: the final result
// codes that end a command's reply, and the table of unsolicited result
// codes a modem sends of its own accord. Pure functions; no state.
#pragma once

#include <string_view>

namespace velmo::at {

// How a final result line ended a command. None: the line is not final.
enum class Final { None, Ok, Error, CmsError, CmeError, NoCarrier, Busy, NoAnswer, NoDialtone, NotSupported };

// The final result code a line is, compared without regard to case: "OK",
// "ERROR", "NO CARRIER", "BUSY", "NO ANSWER", "NO DIALTONE" and "COMMAND NOT
// SUPPORT" as whole lines (trailing blanks allowed), "+CMS ERROR" and "+CME
// ERROR" followed by anything. Final::None for every other line.
Final MatchFinal(std::string_view line);

// What an unsolicited line is about.
enum class Unsolicited {
    StoredMessage,  // +CMTI: a message the modem stored; the index is the second field
    DirectMessage,  // +CMT: a message whose PDU is the next line
    StatusReport,   // +CDS (PDU on the next line) or +CDSI (stored)
    Broadcast,      // +CBM (PDU on the next line) or +CBMI (stored)
    Registration,   // +CREG, +CGREG, +CEREG, +C5GREG
    Signal,         // +CSQ, ^RSSI
    Other,          // rings, calls, USSD, indicators, vendor start-up lines
};

struct UnsolicitedCode {
    std::string_view text;  // the prefix a line begins with, or the whole line when exact
    Unsolicited kind;
    bool pduFollows;  // the next line is this code's PDU
    bool exact;       // the line must equal text (trailing blanks allowed)
};

// The table entry a line matches, compared without regard to case; null
// when the line is no known unsolicited result code. "+CMTI" is tried
// before "+CMT", so the longer prefix wins.
const UnsolicitedCode* MatchUnsolicited(std::string_view line);

// True for a non-empty line of hexadecimal digits only (a PDU line).
bool IsHexLine(std::string_view line);

}  // namespace velmo::at
