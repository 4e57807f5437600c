// What a modem gives in PDU mode after "+CMGR", "+CMGL", "+CMT" or "+CDS":
// a message (an SMS-DELIVER, or an SMS-SUBMIT kept in its memory) or a
// status report (an SMS-STATUS-REPORT).
//
// Both types are tried in the reading the noSmsc setting prefers (with the
// service-centre part first for 0) before either is tried in the other, so
// a PDU that reads as one type one way and as the other type the other way
// (an empty centre part "00" read as a first octet makes an SMS-DELIVER
// of many a report) is read as the setting says.
#pragma once

#include "smscodec/DeliverPdu.h"
#include "smscodec/StatusReport.h"

namespace velmo::sms {

// At most one of the two is set; neither when the PDU reads as neither.
struct ReceivedPdu {
    std::optional<DecodedPdu> message;
    std::optional<StatusReport> report;
};

ReceivedPdu DecodeReceived(std::string_view hex, std::uint16_t noSmsc);

}  // namespace velmo::sms
