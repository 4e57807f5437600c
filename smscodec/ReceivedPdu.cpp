#include "smscodec/ReceivedPdu.h"

namespace velmo::sms {

ReceivedPdu DecodeReceived(std::string_view hex, std::uint16_t noSmsc)
{
    ReceivedPdu out;
    for (bool withSmsc : {noSmsc == 0, noSmsc != 0}) {
        if ((out.message = DecodePduAs(hex, withSmsc)))
            return out;
        if ((out.report = DecodeStatusReportAs(hex, withSmsc)))
            return out;
    }
    return out;
}

}  // namespace velmo::sms
