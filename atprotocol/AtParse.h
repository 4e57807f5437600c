// The pure parts of the AT dialogue: reading the replies and unsolicited
// lines the device acts on. String in, values out; no port, no threads.
// A field that is missing or not a number gives the documented "unknown"
// value; nothing here reads outside its input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::at {

// Whether text begins with prefix, compared without regard to case over n
// characters (n = the prefix's length unless given).
bool BeginsWith(std::string_view text, std::string_view prefix, std::size_t n = std::string_view::npos);

// A new-message indication taken from an unsolicited line.
struct InboundNote {
    // A received message stored at an index, or handed over as its PDU;
    // a status report stored (+CDSI) or handed over (+CDS).
    enum Kind : std::int32_t { StoredIndex = 0, DirectPdu = 1, StoredReport = 2, DirectReport = 3 };
    Kind kind;
    std::string value;    // the storage index as written, or the hex PDU line
    std::string storage;  // for a stored message: the storage +CMTI named ("SM", "ME"), upper case
};

// The storage and index of a +CMTI line ("+CMTI: "ME",3"): its first field
// upper case and its second, cut at space, ":", double quote and ",";
// nullopt when the line has no second field.
struct StoredNote {
    std::string storage;
    std::string index;
};
std::optional<StoredNote> ParseCmti(std::string_view line);
// The same of a +CDSI line ("+CDSI: "SM",5"), a status report the modem stored.
std::optional<StoredNote> ParseCdsi(std::string_view line);

// The message reference of a +CMGS answer ("+CMGS: 17", perhaps with a
// time stamp after a comma): 0..255; -1 when the answer carries none.
int ParseCmgsReference(std::string_view reply);

// A decimal number of at most maxDigits (up to 9) digits; -1 when the text
// is empty, not all digits or longer.
int ParseNumber(std::string_view text, std::size_t maxDigits);

// The first line of reply that begins with prefix (compared without
// regard to case), a view into reply; empty when none does.
std::string_view LineOf(std::string_view reply, std::string_view prefix);

// The lines of a text cut at every CR and LF, without empty lines.
std::vector<std::string> SplitLines(std::string_view text);

// What a response to AT+CMGS means.
struct SendOutcome {
    bool expected;        // false: the answer is none of those below
    std::int32_t result;  // SEND_FAILED, SEND_RETRY or SEND_OK
    bool withStatusText;  // the whole response is the status text
};
// "+CMGS" sent, "ERROR" retry, "+CMS ERROR"/"+CME ERROR" with 21, 41, 42,
// 111, 512, 513 or 515 retry and any other number (or none) failed.
SendOutcome ClassifySendResponse(std::string_view response);

// The number after "+CMS ERROR:" or "+CME ERROR:" at the start of a reply;
// -1 when the reply is neither or carries no number.
int ErrorCode(std::string_view reply);

// The PDU line of a +CMGR response (its second line); empty when the
// response is not +CMGR or has no second line.
std::string PduOfCmgr(std::string_view response);

// One message of an AT+CMGL listing in PDU mode.
struct ListedMessage {
    std::string index;  // as the modem wrote it
    int status;         // 0 received unread, 1 received read, 2 stored unsent, 3 stored sent; -1 unknown
    std::string pdu;    // empty when the listing gave no PDU line for it
};
// The messages of a +CMGL reply, in listing order; lines that are neither a
// +CMGL line nor the PDU line after one are passed over.
std::vector<ListedMessage> ParseCmgl(std::string_view reply);

// The received signal strength of a +CSQ line on its 0..31 scale, or of a
// ^RSSI line; 99 (unknown) when the line gives no number in range.
int ParseSignal(std::string_view line);

// The registration status of a +CREG/+CGREG/+CEREG line: 0 not registered,
// 1 home, 2 searching, 3 denied, 4 unknown, 5 roaming (and the further
// values of 3GPP TS 27.007); -1 when the line gives none. A reply to
// "AT+CREG?" carries the mode first (solicited = true); an unsolicited line
// begins with the status.
int ParseRegistration(std::string_view line, bool solicited);

// The operator of a +COPS? reply: its third field without quotes; empty
// when the modem names none.
std::string ParseOperator(std::string_view reply);

// The word for a registration status of ParseRegistration: none, home,
// searching, denied, unknown, roaming, "home (SMS only)", "roaming (SMS
// only)", "emergency only"; "unknown" for any other value.
std::string RegistrationWord(int status);

// The state of the SIM from an AT+CPIN? reply: "ready", "PIN", "PUK", the
// code a modem names for any other lock ("PH-SIM PIN"), "absent" (+CME
// ERROR 10 or "SIM not inserted"), "failure" (13), "busy" (14); "unknown"
// for anything else, an empty reply included.
std::string ParseSimState(std::string_view reply);

}  // namespace velmo::at
