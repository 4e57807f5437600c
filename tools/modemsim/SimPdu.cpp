#include "SimPdu.h"

#include "SimText.h"

#include <cctype>
#include <ctime>

namespace modemsim {

namespace {

constexpr std::size_t kSeptetsAlone = 160, kSeptetsInPart = 153;
constexpr std::size_t kUnitsAlone = 70, kUnitsInPart = 67;

const char* kHex = "0123456789ABCDEF";

void PutOctet(std::string& out, unsigned v)
{
    out += kHex[(v >> 4) & 0xF];
    out += kHex[v & 0xF];
}

// Digits as swapped semi-octets, padded with F.
std::string SemiOctets(const std::string& digits)
{
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out += i + 1 < digits.size() ? digits[i + 1] : 'F';
        out += digits[i];
    }
    return out;
}

std::string Address(const std::string& number, bool countOctets)
{
    bool international = !number.empty() && number[0] == '+';
    std::string digits;
    for (char c : number)
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
    std::string out;
    PutOctet(out,
             countOctets ? static_cast<unsigned>(1 + (digits.size() + 1) / 2) : static_cast<unsigned>(digits.size()));
    PutOctet(out, international ? 0x91 : 0x81);
    return out + SemiOctets(digits);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// One part's text: septets (each a whole character's) or UTF-16 units.
using Chunk = std::vector<unsigned>;

// Characters' codes cut into chunks of at most limit, or one chunk when
// all fit in alone; a character's codes are never split.
std::vector<Chunk> Cut(const std::vector<Chunk>& chars, std::size_t alone, std::size_t limit)
{
    std::size_t total = 0;
    for (const Chunk& c : chars)
        total += c.size();
    std::vector<Chunk> parts(1);
    if (total <= alone) {
        for (const Chunk& c : chars)
            parts[0].insert(parts[0].end(), c.begin(), c.end());
        return parts;
    }
    for (const Chunk& c : chars) {
        if (parts.back().size() + c.size() > limit)
            parts.emplace_back();
        parts.back().insert(parts.back().end(), c.begin(), c.end());
    }
    return parts;
}

// Septets packed after a header of headerOctets, the first septet on the
// septet boundary that follows the header.
void PutSeptets(std::string& out, const Chunk& septets, std::size_t headerOctets)
{
    int fill = headerOctets ? static_cast<int>((7 - (headerOctets * 8) % 7) % 7) : 0;
    unsigned acc = 0;
    int bits = fill;
    for (unsigned s : septets) {
        acc |= s << bits;
        bits += 7;
        while (bits >= 8) {
            PutOctet(out, acc & 0xFF);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        PutOctet(out, acc & 0xFF);
}

// A service-centre time stamp of t with the zone in quarter hours east.
std::string Stamp(const std::tm& t, int quarters)
{
    std::string out;
    for (int v : {t.tm_year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, quarters})
        PutOctet(out, static_cast<unsigned>(((v % 10) << 4) | (v / 10)));
    return out;
}

// Local time, with the zone written as 0.
std::string Timestamp()
{
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return Stamp(t, 0);
}

// UTC an hour later, with the zone +01:00 (four quarters east).
std::string TimestampEastOfUtc()
{
    std::time_t later = std::time(nullptr) + 3600;
    std::tm t{};
    gmtime_r(&later, &t);
    return Stamp(t, 4);
}

unsigned Reference(const std::string& sender, const std::string& text)
{
    unsigned h = 2166136261u;
    for (char c : sender + '\n' + text)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h & 0xFF;
}

}  // namespace

std::vector<std::string> EncodeDeliver(const std::string& smsc, const std::string& sender, const std::string& text)
{
    std::vector<char32_t> cps = CodePoints(text);
    std::vector<Chunk> chars;
    bool gsm = true;
    for (char32_t cp : cps) {
        Chunk septets = SeptetsOf(cp);
        gsm = gsm && !septets.empty();
        chars.push_back(septets);
    }
    if (!gsm) {
        chars.clear();
        for (char32_t cp : cps)
            chars.push_back(Utf16Units(cp));
    }
    std::vector<Chunk> parts = gsm ? Cut(chars, kSeptetsAlone, kSeptetsInPart) : Cut(chars, kUnitsAlone, kUnitsInPart);
    unsigned reference = Reference(sender, text);
    std::vector<std::string> pdus;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        bool header = parts.size() > 1;
        std::string pdu = Address(smsc, true);
        PutOctet(pdu, header ? 0x44 : 0x04);  // SMS-DELIVER, no more messages to send, UDHI
        pdu += Address(sender, false);
        PutOctet(pdu, 0x00);               // protocol identifier
        PutOctet(pdu, gsm ? 0x00 : 0x08);  // 7-bit default alphabet or UCS2
        pdu += Timestamp();
        std::size_t headerOctets = header ? 6 : 0;
        const Chunk& body = parts[k];
        if (gsm)
            PutOctet(pdu, static_cast<unsigned>(body.size() + (headerOctets * 8 + 6) / 7));
        else
            PutOctet(pdu, static_cast<unsigned>(headerOctets + 2 * body.size()));
        if (header) {
            for (unsigned v :
                 {5u, 0u, 3u, reference, static_cast<unsigned>(parts.size()), static_cast<unsigned>(k + 1)})
                PutOctet(pdu, v);
        }
        if (gsm) {
            PutSeptets(pdu, body, headerOctets);
        } else {
            for (unsigned unit : body) {
                PutOctet(pdu, unit >> 8);
                PutOctet(pdu, unit & 0xFF);
            }
        }
        pdus.push_back(pdu);
    }
    return pdus;
}

int DeliverTpduLength(const std::string& pdu)
{
    int sca = HexValue(pdu[0]) * 16 + HexValue(pdu[1]);
    return static_cast<int>(pdu.size() / 2) - 1 - sca;
}

std::string EncodeStatusReport(const std::string& smsc, int reference, const std::string& number, int status)
{
    std::string pdu = Address(smsc, true);
    PutOctet(pdu, 0x06);  // SMS-STATUS-REPORT, no more messages to send
    PutOctet(pdu, static_cast<unsigned>(reference & 0xFF));
    pdu += Address(number, false);
    std::string when = TimestampEastOfUtc();
    pdu += when + when;
    PutOctet(pdu, static_cast<unsigned>(status & 0xFF));
    return pdu;
}

std::optional<Submit> DecodeSubmit(const std::string& hex, int tpduLength)
{
    std::vector<unsigned> octets;
    if (hex.size() % 2)
        return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        octets.push_back(static_cast<unsigned>(hi * 16 + lo));
    }
    std::size_t p = 0;
    if (static_cast<int>(octets.size()) > tpduLength)
        p = 1 + octets[0];  // the service-centre field
    auto need = [&](std::size_t n) { return p + n <= octets.size(); };
    if (!need(3))
        return std::nullopt;
    unsigned first = octets[p++];
    if ((first & 0x03) != 0x01)
        return std::nullopt;  // not an SMS-SUBMIT
    ++p;                      // message reference
    unsigned digits = octets[p++];
    if (!need(1 + (digits + 1) / 2))
        return std::nullopt;
    unsigned toa = octets[p++];
    Submit out;
    if (toa == 0x91)
        out.number = "+";
    for (unsigned i = 0; i < digits; ++i) {
        unsigned o = octets[p + i / 2];
        unsigned d = i % 2 ? o >> 4 : o & 0xF;
        out.number += static_cast<char>(d < 10 ? '0' + d : '?');
    }
    p += (digits + 1) / 2;
    if (!need(2))
        return std::nullopt;
    ++p;  // protocol identifier
    unsigned dcs = octets[p++];
    unsigned vpf = (first >> 3) & 0x03;
    out.reportRequested = first & 0x20;
    if (vpf == 2 && need(1))
        out.validity = static_cast<int>(octets[p]);
    p += vpf == 2 ? 1 : vpf ? 7 : 0;
    if (!need(1))
        return std::nullopt;
    unsigned coding = (dcs & 0xC0) == 0 ? (dcs >> 2) & 0x03 : 0;  // 0 GSM, 1 8-bit, 2 UCS2
    if (coding == 3)
        return std::nullopt;
    std::size_t length = octets[p++];
    std::size_t dataOctets = coding == 0 ? (length * 7 + 7) / 8 : length;
    if (!need(dataOctets))
        return std::nullopt;
    std::size_t start = p, headerOctets = 0;
    if (first & 0x40) {
        if (!need(1))
            return std::nullopt;
        headerOctets = 1 + octets[p];
        if (headerOctets > dataOctets)
            return std::nullopt;
        for (std::size_t i = p + 1; i + 1 < p + headerOctets;) {
            unsigned id = octets[i], len = octets[i + 1];
            if (i + 2 + len > p + headerOctets)
                return std::nullopt;
            if ((id == 0x00 && len == 3) || (id == 0x08 && len == 4)) {
                std::size_t v = i + 2;
                out.reference =
                    id == 0x00 ? static_cast<int>(octets[v++]) : static_cast<int>(octets[v] << 8 | octets[v + 1]);
                v += id == 0x08 ? 2 : 0;
                out.total = static_cast<int>(octets[v]);
                out.part = static_cast<int>(octets[v + 1]);
            }
            i += 2 + len;
        }
    }
    if (coding == 0) {
        std::vector<unsigned> septets;
        std::size_t skip = (headerOctets * 8 + 6) / 7;
        for (std::size_t s = 0; s < length; ++s) {
            std::size_t bit = s * 7;
            unsigned v = octets[start + bit / 8] >> (bit % 8);
            if (bit % 8 > 1 && start + bit / 8 + 1 < octets.size())
                v |= octets[start + bit / 8 + 1] << (8 - bit % 8);
            if (s >= skip)
                septets.push_back(v & 0x7F);
        }
        for (std::size_t i = 0; i < septets.size(); ++i) {
            bool consumed = false;
            char32_t cp = CharOfSeptet(septets[i], i + 1 < septets.size() ? septets[i + 1] : 0, consumed);
            i += consumed ? 1 : 0;
            AppendUtf8(out.text, cp);
        }
    } else if (coding == 1) {
        for (std::size_t i = start + headerOctets; i < start + length; ++i)
            AppendUtf8(out.text, octets[i]);
    } else {
        for (std::size_t i = start + headerOctets; i + 1 < start + length; i += 2) {
            char32_t unit = octets[i] << 8 | octets[i + 1];
            if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < start + length) {
                char32_t low = octets[i + 2] << 8 | octets[i + 3];
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
            AppendUtf8(out.text, unit);
        }
    }
    return out;
}

}  // namespace modemsim
