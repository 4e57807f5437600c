// libFuzzer entry for the PDU decoder: any byte string is a PDU a modem
// might report, read both as it stands and as the hex of its bytes (so
// that the fuzzer reaches past the hex check into every field), under both
// settings of the SMSC flag. The decoder must not touch memory outside the
// input, and what it reads never holds more characters than the input has
// octets. The parts it reads are then joined as reassembly joins them
// (each read a part at the place its header names, once more as a
// duplicate): every place is filled exactly once, by a part or a gap.
#include "smscodec/DeliverPdu.h"
#include "smscodec/PartJoin.h"

#include "tests/fuzz/FuzzHex.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string hex = HexOf(data, size);
    std::vector<velmo::sms::ReceivedPart> parts;
    unsigned total = 0;
    for (const std::string& pdu : {raw, hex}) {
        for (std::uint16_t noSmsc : {std::uint16_t{0}, std::uint16_t{1}}) {
            auto decoded = velmo::sms::DecodePdu(pdu, noSmsc);
            if (!decoded)
                continue;
            // A septet is less than an octet, a digit half of one; a header is hex of octets read.
            if (decoded->text.size() > 2 * size || decoded->address.size() > 2 * size ||
                decoded->header.size() > 2 * size)
                std::abort();
            if (const auto& c = decoded->concatenation; c && (c->sequence < 1 || c->sequence > c->total))
                std::abort();
            if (const auto& c = decoded->concatenation) {
                total = total ? total : c->total;
                parts.push_back({c->sequence, decoded->text, "f"});
                parts.push_back({c->sequence, decoded->text, "f"});
            }
        }
    }
    if (total) {
        velmo::sms::JoinedParts joined = velmo::sms::JoinParts(parts, total);
        if (joined.files.size() + joined.missing.size() != total)
            std::abort();
        if (velmo::sms::HasAllParts(parts, total) != joined.missing.empty())
            std::abort();
    }
    return 0;
}
