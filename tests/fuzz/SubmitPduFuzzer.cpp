// libFuzzer entry for the SMS-SUBMIT encoder: the input, read as UTF-16
// units (lone surrogates included), is sent with the full alphabet in as
// many parts as it needs, and every part must decode, hold at most 140
// octets of user data, carry a header naming its place, and the parts'
// texts joined must be the input again. The 8-bit path is run on the same
// text and its single part must decode too.
#include "smscodec/DeliverPdu.h"
#include "smscodec/SubmitPdu.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmo::sms;
    if (size == 0)
        return 0;
    const std::uint16_t noSmsc = data[0] & 1;
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] << 8 | data[i + 1]);
    const std::string number = "+4917112345";
    const std::size_t headerOctets = 8 + 5 + (noSmsc ? 0 : 1);

    SubmitMessage m = EncodeSubmit(number, text, {noSmsc, true, 255, data[0]});
    if (m.cut || m.pdus.empty())
        std::abort();  // the input is too short to need 255 parts
    std::u16string joined;
    for (std::size_t part = 0; part < m.pdus.size(); ++part) {
        const std::string& pdu = m.pdus[part];
        auto d = DecodePdu(pdu, noSmsc);
        if (!d || !d->submit || pdu.size() / 2 - headerOctets > 140)
            std::abort();
        if (m.pdus.size() > 1 && (!d->concatenation || d->concatenation->sequence != part + 1 ||
                                  d->concatenation->total != m.pdus.size() || d->concatenation->reference != data[0]))
            std::abort();
        joined += d->text;
    }
    if (joined != text)
        std::abort();

    SubmitMessage latin = EncodeSubmit(number, text, {noSmsc, false, 1, 0});
    if (latin.pdus.size() != 1 || !DecodePdu(latin.pdus[0], noSmsc))
        std::abort();
    return 0;
}
