#include "devices/gsm/SubmitPdu.h"

#include "devices/gsm/GsmAlphabet.h"


namespace velmo::gsm {

namespace {

constexpr std::size_t kMaxSeptets = 160;

// "%02X" of one octet.
void AppendOctet(std::string& out, unsigned v)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[(v >> 4) & 0xF];
    out += kDigits[v & 0xF];
}

} // namespace

std::vector<std::uint8_t> PackSeptets(const std::string& codes)
{
    std::vector<std::uint8_t> out;
    out.reserve((codes.size() * 7 + 7) / 8);
    unsigned shift = 0;
    for (std::size_t p = 0; p < codes.size(); ++p) {
        unsigned octet = (static_cast<unsigned char>(codes[p]) & 0x7F) >> shift;
        if (p + 1 < codes.size())
            octet |= (static_cast<unsigned char>(codes[p + 1]) & ((1u << (shift + 1)) - 1)) << (7 - shift);
        out.push_back(static_cast<std::uint8_t>(octet & 0xFF));
        if (++shift == 7) {
            // The next code went wholly into this octet's high bits.
            shift = 0;
            ++p;
        }
    }
    return out;
}

std::string EncodeSubmitPdu(std::string number, std::string text, std::uint16_t noSmsc)
{
    std::string pdu;
    pdu.reserve(32 + 2 * number.size() + 2 * kMaxSeptets);
    pdu = noSmsc == 0 ? "001100" : "1100";
    bool international = !number.empty() && number.front() == '+';
    if (international)
        number.erase(0, 1);
    std::size_t n = number.size();
    if (n % 2)
        number += 'F';
    AppendOctet(pdu, static_cast<unsigned>(n));
    pdu += international ? "91" : "81";
    for (std::size_t i = 0; i < n; i += 2) {
        pdu += number[i + 1];
        pdu += number[i];
    }
    pdu += "0000AA";
    if (text.size() > kMaxSeptets)
        text.erase(kMaxSeptets);
    LatinToGsm(text);
    AppendOctet(pdu, static_cast<unsigned>(text.size()));
    for (std::uint8_t octet : PackSeptets(text))
        AppendOctet(pdu, octet);
    return pdu;
}

int SubmitLength(const std::string& pdu, std::uint16_t noSmsc)
{
    auto len = static_cast<int>(pdu.size());
    return noSmsc == 0 ? (len - 2) / 2 : len / 2;
}

} // namespace velmo::gsm
