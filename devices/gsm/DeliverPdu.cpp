#include "devices/gsm/DeliverPdu.h"

#include "devices/gsm/GsmAlphabet.h"

namespace velmo::gsm {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr std::size_t kTimeStampChars = 14;

} // namespace

std::uint8_t ReadHexOctet(const std::string& hex, std::size_t& pos)
{
    std::size_t at = pos;
    pos += 2;
    int low = at + 1 < hex.size() ? HexValue(hex[at + 1]) : -1;
    if (low < 0)
        return 0;
    int high = at < hex.size() ? HexValue(hex[at]) : -1;
    if (high < 0)
        return static_cast<std::uint8_t>(low);
    return static_cast<std::uint8_t>(high * 16 + low);
}

std::string UnpackSeptets(const std::string& hex, std::size_t& pos, std::size_t end)
{
    std::string codes;
    unsigned carry = 0;
    unsigned i = 0;
    while (pos < end && pos < hex.size()) {
        unsigned n = 7 - i;
        unsigned v = ReadHexOctet(hex, pos);
        codes += static_cast<char>(((v & ((1u << n) - 1)) << i) | carry);
        carry = v >> n;
        if (++i == 7) {
            // The carry is a whole eighth septet; a zero one is not kept.
            if (carry != 0)
                codes += static_cast<char>(carry);
            carry = 0;
            i = 0;
        }
    }
    return codes;
}

bool DecodeDeliverPdu(const std::string& pdu, std::string& sender, std::string& text, std::uint16_t noSmsc)
{
    sender.clear();
    text.clear();
    if (pdu.empty())
        return false;
    std::size_t pos = 0;
    auto more = [&] { return pos < pdu.size(); };

    std::uint8_t first = ReadHexOctet(pdu, pos);
    if (first > 4 && noSmsc == 0) {
        pos += 2 * static_cast<std::size_t>(first);  // service-centre address, not decoded
        if (more())
            ReadHexOctet(pdu, pos);  // first octet of the SMS-DELIVER
    }

    unsigned length = more() ? ReadHexOctet(pdu, pos) : 0;
    unsigned type = more() ? ReadHexOctet(pdu, pos) : 0;
    if ((type & 0x70) == 0x50) {
        std::size_t start = pos;
        sender = UnpackSeptets(pdu, pos, start + length);
        GsmToLatin(sender);
        pos = start + 2 * ((length + 1) / 2);
    } else {
        if ((type & 0x70) == 0x10)
            sender += '+';
        for (unsigned k = 0; k < (length + 1) / 2 && more(); ++k) {
            if (pos + 1 < pdu.size())
                sender += pdu[pos + 1];
            sender += pdu[pos];
            pos += 2;
        }
        if ((length % 2) && !sender.empty())
            sender.pop_back();
    }

    if (more())
        ReadHexOctet(pdu, pos);  // TP-PID
    unsigned dcs = more() ? ReadHexOctet(pdu, pos) : 0;
    if (pos < pdu.size() && pdu.size() - pos > kTimeStampChars)
        pos += kTimeStampChars;
    if (more())
        ReadHexOctet(pdu, pos);  // TP-UDL: the text runs to the end of the string
    if ((dcs & 0x0C) == 0 && more()) {
        text = UnpackSeptets(pdu, pos, pdu.size());
        GsmToLatin(text);
    }
    return true;
}

bool DeliverPduWellFormed(const std::string& pdu, std::uint16_t noSmsc)
{
    if (pdu.empty() || pdu.size() % 2 != 0)
        return false;
    for (char c : pdu)
        if (HexValue(c) < 0)
            return false;
    const std::size_t octets = pdu.size() / 2;
    std::size_t at = 0;  // in octets
    auto octet = [&](std::size_t i) { return static_cast<unsigned>(HexValue(pdu[2 * i]) * 16 + HexValue(pdu[2 * i + 1])); };
    if (noSmsc == 0)
        at = 1 + octet(0);  // the service-centre length counts the octets after it
    constexpr std::size_t kAfterSender = 1 + 1 + 7 + 1;  // TP-PID, TP-DCS, TP-SCTS, TP-UDL
    if (at + 2 > octets || (octet(at) & 0x03) != 0)
        return false;  // no first octet and sender length, or not an SMS-DELIVER
    std::size_t senderDigits = octet(at + 1);
    at += 2 + 1 + (senderDigits + 1) / 2;  // first octet, length, type of address, the digits
    if (at + kAfterSender > octets)
        return false;
    unsigned dcs = octet(at + 1);
    std::size_t udl = octet(at + 9);
    at += kAfterSender;
    bool septets = (dcs & 0xC0) == 0 && (dcs & 0x0C) == 0;
    std::size_t need = septets ? (udl * 7 + 7) / 8 : udl;
    return at + need <= octets;
}

} // namespace velmo::gsm
