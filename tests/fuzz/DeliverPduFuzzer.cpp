// libFuzzer entry for the SMS-DELIVER decoder: any byte string is a PDU the
// modem might report, and the decoder must read it without touching memory
// outside the input, under both settings of the SMSC flag. The sender and
// text never hold more characters than the input has digits.
#include "devices/gsm/DeliverPdu.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string pdu(reinterpret_cast<const char*>(data), size);
    for (std::uint16_t noSmsc : {std::uint16_t{0}, std::uint16_t{1}}) {
        std::string sender;
        std::string text;
        velmo::gsm::DecodeDeliverPdu(pdu, sender, text, noSmsc);
        // Each character costs at least one hex digit: a sender digit is a
        // nibble and a septet is less than an octet.
        if (sender.size() > 2 * size || text.size() > 2 * size)
            std::abort();
    }
    return 0;
}
