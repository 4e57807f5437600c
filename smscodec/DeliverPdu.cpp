#include "smscodec/DeliverPdu.h"

#include "smscodec/GsmCharset.h"
#include "smscodec/PduReader.h"

#include <span>
#include <vector>

namespace velmo::sms {

namespace {

// The alphabet a data coding scheme names (3GPP TS 23.038, section 4).
Coding FromDcs(unsigned dcs)
{
    unsigned group = dcs >> 4;
    if (group <= 0x7) {
        if (dcs & 0x20)
            return Coding::EightBit;  // compressed: not expanded here, kept as its octets
        unsigned alphabet = (dcs >> 2) & 3;
        return alphabet == 1 ? Coding::EightBit : alphabet == 2 ? Coding::Ucs2 : Coding::Gsm7;
    }
    if (group == 0xE)
        return Coding::Ucs2;
    if (group == 0xF)
        return (dcs & 0x04) ? Coding::EightBit : Coding::Gsm7;
    return Coding::Gsm7;  // message waiting groups C and D, and the reserved ones
}

void ReadHeader(std::span<const std::uint8_t> header, DecodedPdu& out)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t octet : header) {
        out.header += kDigits[octet >> 4];
        out.header += kDigits[octet & 0xF];
    }
    for (std::size_t i = 0; i + 1 < header.size();) {
        unsigned id = header[i], length = header[i + 1];
        if (i + 2 + length > header.size())
            return;  // a damaged element ends what is read of the header
        const std::uint8_t* v = header.data() + i + 2;
        Concatenation c{};
        bool concatenation = false;
        if (id == 0x00 && length == 3) {
            c = {v[0], false, v[1], v[2]};
            concatenation = true;
        } else if (id == 0x08 && length == 4) {
            c = {static_cast<unsigned>(v[0] << 8 | v[1]), true, v[2], v[3]};
            concatenation = true;
        }
        if (concatenation && c.total >= 1 && c.sequence >= 1 && c.sequence <= c.total)
            out.concatenation = c;
        i += 2 + length;
    }
}

std::optional<DecodedPdu> Decode(const std::vector<std::uint8_t>& octets, bool withSmsc)
{
    PduReader r{octets};
    if (withSmsc)
        r.Take(r.Octet());
    unsigned first = r.Octet();
    DecodedPdu out;
    unsigned type = first & 0x03;
    if (type == 1) {
        out.submit = true;
        r.Octet();  // TP-MR
    } else if (type != 0) {
        return std::nullopt;  // a status report or a reserved type
    }
    out.address = ReadAddress(r);
    r.Octet();  // TP-PID
    unsigned dcs = r.Octet();
    if (!out.submit) {
        r.Take(7);  // TP-SCTS
    } else {
        unsigned vpf = (first >> 3) & 3;
        r.Take(vpf == 2 ? 1 : vpf == 0 ? 0 : 7);
    }
    std::size_t udl = r.Octet();
    if (!r.ok)
        return std::nullopt;
    out.coding = FromDcs(dcs);
    std::size_t size = out.coding == Coding::Gsm7 ? (udl * 7 + 7) / 8 : udl;
    std::span<const std::uint8_t> data = r.Take(size);
    if (!r.ok || r.at != octets.size())
        return std::nullopt;  // short, or octets left over: not this reading of the PDU
    std::size_t headerOctets = 0;
    if (first & 0x40) {
        if (data.empty() || 1u + data[0] > data.size())
            return std::nullopt;
        headerOctets = 1u + data[0];
        ReadHeader(data.subspan(1, headerOctets - 1), out);
    }
    if (out.coding == Coding::Gsm7) {
        std::size_t skip = (headerOctets * 8 + 6) / 7;  // the header and its fill bits, in septets
        if (skip > udl)
            return std::nullopt;
        out.text = DecodeGsm7(UnpackSeptetsAt(data, static_cast<unsigned>(skip * 7), udl - skip));
    } else if (out.coding == Coding::Ucs2) {
        out.text.reserve((data.size() - headerOctets) / 2);
        for (std::size_t i = headerOctets; i + 1 < data.size(); i += 2)
            out.text += static_cast<char16_t>(data[i] << 8 | data[i + 1]);
    } else {
        for (std::size_t i = headerOctets; i < data.size(); ++i)
            out.text += static_cast<char16_t>(data[i]);
    }
    return out;
}

}  // namespace

std::optional<DecodedPdu> DecodePduAs(std::string_view hex, bool withSmsc)
{
    return DecodeOneWay(hex, withSmsc, Decode);
}

std::optional<DecodedPdu> DecodePdu(std::string_view hex, std::uint16_t noSmsc)
{
    return DecodeEitherWay(hex, noSmsc, Decode);
}

}  // namespace velmo::sms
