// libFuzzer entry for the status-report reader: any byte string is a PDU a
// modem might give after +CDS, read as it stands and as the hex of its
// bytes, under both settings of the SMSC flag. The reader must not touch
// memory outside the input; what it gives must keep its promises: a
// recipient of at most two characters an octet, a time stamp that is valid
// only as a real date with a zone of at most 19 h 45 min, and the words of
// every status it reads. The reading of either type (DecodeReceived) gives
// one type at most.
#include "smscodec/ReceivedPdu.h"
#include "smscodec/StatusReport.h"

#include "tests/fuzz/FuzzHex.h"

#include <cstdlib>
#include <string>

namespace {

void CheckTime(const velmo::sms::PduTime& t)
{
    if (!t.valid) {
        if (t.UnixSeconds() != 0)
            std::abort();
        return;
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59 ||
        t.offsetMinutes % 15 != 0 || t.offsetMinutes > 79 * 15 || t.offsetMinutes < -79 * 15)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string hex = HexOf(data, size);
    for (const std::string& pdu : {raw, hex}) {
        for (std::uint16_t noSmsc : {std::uint16_t{0}, std::uint16_t{1}}) {
            velmo::sms::ReceivedPdu either = velmo::sms::DecodeReceived(pdu, noSmsc);
            if (either.message && either.report)
                std::abort();
            auto report = velmo::sms::DecodeStatusReport(pdu, noSmsc);
            if (!report)
                continue;
            if (report->reference > 255 || report->status > 255 || report->recipient.size() > 2 * size)
                std::abort();
            CheckTime(report->submitted);
            CheckTime(report->discharged);
            if (velmo::sms::StatusMeaning(report->status).empty())
                std::abort();
        }
    }
    return 0;
}
