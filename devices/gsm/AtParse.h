// The pure parts of the AT dialogue: sorting what the modem sends into
// command responses and new-message notes, and reading the answers the
// device acts on. String in, values out; no port, no threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::gsm {

// Whether text begins with prefix, compared without regard to case over n
// characters (n = the prefix's length unless given).
bool BeginsWith(std::string_view text, std::string_view prefix, std::size_t n = std::string_view::npos);

struct InboundNote {
    enum Kind : std::int32_t { StoredIndex = 0, DirectPdu = 1 };
    Kind kind;
    std::string value;  // the storage index as written, or the hex PDU line
};

// One delivery from the serial link, sorted: the ordinary lines, each ended
// by CR LF (empty when there were none), and the notes of +CMTI and +CMT.
// RING, +CRING, NO CARRIER, the ">" prompt and +CDS lines are dropped.
struct SortedDelivery {
    std::string response;
    std::vector<InboundNote> notes;
};
SortedDelivery SortDelivery(std::string_view text);

// The lines of a text cut at every CR and LF, without empty lines.
std::vector<std::string> SplitLines(std::string_view text);

// The answer to ATE0 during the echo check: the echo itself followed by the
// start of OK, or OK alone.
bool EchoAccepted(std::string_view bytes);

// What a response to AT+CMGS means.
struct SendOutcome {
    bool expected;      // false: no result; the send path fails
    std::int32_t result;  // SEND_FAILED, SEND_RETRY or SEND_OK
    bool withStatusText;  // the whole response is the status text
};
SendOutcome ClassifySendResponse(std::string_view response);

// The PDU line of a +CMGR response (its second line); empty when the
// response is not +CMGR or has no second line.
std::string PduOfCmgr(std::string_view response);

} // namespace velmo::gsm
