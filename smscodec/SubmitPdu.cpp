#include "smscodec/SubmitPdu.h"

#include "smscodec/GsmAlphabet.h"
#include "smscodec/GsmCharset.h"
#include "platform/Text.h"

#include <algorithm>
#include <functional>

namespace velmo::sms {

namespace {

constexpr std::size_t kHeaderOctets = 6;    // 05 00 03 reference parts part
constexpr unsigned kHeaderSeptetBits = 49;  // the header and one fill bit: the text's first septet starts here
constexpr std::size_t kHeaderSeptets = 7;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Flags of the first octet beside TP-MTI 01 and TP-VPF 10.
constexpr unsigned kReportRequest = 0x20;   // TP-SRR
constexpr unsigned kUserDataHeader = 0x40;  // TP-UDHI

constexpr std::uint64_t kMinute = 60, kHour = 3600, kDay = 86400, kWeek = 7 * kDay;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// "%02X" of one octet.
void AppendOctet(std::string& out, unsigned v)
{
    out += kHexDigits[(v >> 4) & 0xF];
    out += kHexDigits[v & 0xF];
}

// "%02X" of each octet, written in one pass.
void AppendOctets(std::string& out, const std::vector<std::uint8_t>& octets)
{
    std::size_t at = out.size();
    out.resize(at + 2 * octets.size());
    for (std::uint8_t v : octets) {
        out[at++] = kHexDigits[v >> 4];
        out[at++] = kHexDigits[v & 0xF];
    }
}

// Everything up to TP-VP: service-centre part, first octet, reference,
// destination, PID, DCS, validity.
std::string Header(std::string number, std::uint16_t noSmsc, unsigned flags, unsigned dcs, unsigned validity)
{
    std::string pdu;
    pdu.reserve(48 + 2 * number.size() + 2 * 140);
    if (noSmsc == 0)
        pdu += "00";
    AppendOctet(pdu, 0x11 | flags);
    pdu += "00";
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
    pdu += "00";
    AppendOctet(pdu, dcs);
    AppendOctet(pdu, validity);
    return pdu;
}

void AppendConcatenation(std::vector<std::uint8_t>& ud, unsigned reference, std::size_t parts, std::size_t part)
{
    std::uint8_t header[kHeaderOctets] = {5,
                                          0,
                                          3,
                                          static_cast<std::uint8_t>(reference),
                                          static_cast<std::uint8_t>(parts),
                                          static_cast<std::uint8_t>(part)};
    std::copy(header, header + kHeaderOctets, ud.begin());
}

// Where a text of units may be cut into pieces of at most size units
// without splitting what belongs together (an escape and its code, a
// surrogate pair): the end of each piece.
std::vector<std::size_t> Cuts(std::size_t units, std::size_t size, const std::function<bool(std::size_t)>& joined)
{
    std::vector<std::size_t> ends;
    std::size_t start = 0;
    while (start < units) {
        std::size_t end = std::min(units, start + size);
        if (end < units && end > start + 1 && joined(end))
            --end;  // the unit at end belongs to the one before it
        ends.push_back(end);
        start = end;
    }
    return ends;
}

}  // namespace

std::vector<std::uint8_t> PackSeptets(const std::string& codes) { return PackSeptetsAt(codes, 0); }

unsigned ValidityOctet(std::uint64_t seconds)
{
    if (seconds <= 12 * kHour)
        return static_cast<unsigned>(std::max<std::uint64_t>(CeilDiv(seconds, 5 * kMinute), 1) - 1);
    if (seconds <= 24 * kHour)
        return static_cast<unsigned>(143 + CeilDiv(seconds - 12 * kHour, 30 * kMinute));
    if (seconds <= 30 * kDay)
        return static_cast<unsigned>(166 + std::max<std::uint64_t>(CeilDiv(seconds, kDay), 2));
    if (seconds <= 63 * kWeek)
        return static_cast<unsigned>(192 + std::max<std::uint64_t>(CeilDiv(seconds, kWeek), 5));
    return 255;
}

std::uint64_t ValiditySeconds(unsigned octet)
{
    octet &= 0xFF;
    if (octet <= 143)
        return (octet + 1) * 5 * kMinute;
    if (octet <= 167)
        return 12 * kHour + (octet - 143) * 30 * kMinute;
    if (octet <= 196)
        return (octet - 166) * kDay;
    return (octet - 192) * kWeek;
}

std::string EncodeSubmitPdu(std::string number, std::string text, std::uint16_t noSmsc)
{
    if (text.size() > kSeptetsAlone)
        text.erase(kSeptetsAlone);
    LatinToGsm(text);
    std::string pdu = Header(std::move(number), noSmsc, 0, 0x00, kFourDays);
    AppendOctet(pdu, static_cast<unsigned>(text.size()));
    AppendOctets(pdu, PackSeptets(text));
    return pdu;
}

int SubmitLength(const std::string& pdu, std::uint16_t noSmsc)
{
    auto len = static_cast<int>(pdu.size());
    return noSmsc == 0 ? (len - 2) / 2 : len / 2;
}

SubmitMessage EncodeSubmit(const std::string& number, std::u16string_view text, const SubmitOptions& options)
{
    SubmitMessage message;
    unsigned maxParts = std::clamp(options.maxParts, 1u, 255u);
    std::string septets;
    std::u16string units;
    if (!options.fullAlphabet) {
        septets = Utf16ToAnsi(text);  // the 8-bit path: one septet a character
        LatinToGsm(septets);
    } else if (!EncodeGsm7(text, septets)) {
        units.assign(text);
        message.coding = Coding::Ucs2;
    }
    bool ucs2 = message.coding == Coding::Ucs2;
    std::size_t length = ucs2 ? units.size() : septets.size();
    std::size_t alone = ucs2 ? kUnitsAlone : kSeptetsAlone;
    std::size_t inPart = ucs2 ? kUnitsInPart : kSeptetsInPart;
    auto joined = [&](std::size_t at) {
        if (ucs2)
            return units[at] >= 0xDC00 && units[at] <= 0xDFFF && units[at - 1] >= 0xD800 && units[at - 1] <= 0xDBFF;
        // The unit at `at` is an escape's code when an odd run of escapes stands before it.
        std::size_t escapes = 0;
        for (std::size_t i = at; i > 0 && septets[i - 1] == kGsmEscape; --i)
            ++escapes;
        return escapes % 2 == 1;
    };
    std::vector<std::size_t> ends = Cuts(length, length <= alone || maxParts == 1 ? alone : inPart, joined);
    if (ends.empty())
        ends.push_back(0);
    if (ends.size() > maxParts) {
        ends.resize(maxParts);
        message.cut = true;
    } else if (maxParts == 1 && ends.back() < length) {
        message.cut = true;
    }
    if (maxParts == 1 || ends.size() == 1)
        ends.resize(1);
    bool several = ends.size() > 1;
    unsigned flags = (several ? kUserDataHeader : 0) | (options.statusReport ? kReportRequest : 0);
    const std::string header = Header(number, options.noSmsc, flags, ucs2 ? 0x08 : 0x00, options.validity & 0xFF);
    message.pdus.reserve(ends.size());
    std::size_t start = 0;
    for (std::size_t part = 0; part < ends.size(); ++part) {
        std::size_t end = ends[part];
        std::string pdu = header;
        std::vector<std::uint8_t> ud;
        std::size_t udl = 0;
        if (ucs2) {
            ud.resize((several ? kHeaderOctets : 0) + 2 * (end - start));
            for (std::size_t i = start, at = several ? kHeaderOctets : 0; i < end; ++i) {
                ud[at++] = static_cast<std::uint8_t>(units[i] >> 8);
                ud[at++] = static_cast<std::uint8_t>(units[i] & 0xFF);
            }
            udl = ud.size();
        } else {
            std::string_view piece = std::string_view(septets).substr(start, end - start);
            ud = PackSeptetsAt(piece, several ? kHeaderSeptetBits : 0);
            udl = piece.size() + (several ? kHeaderSeptets : 0);
        }
        if (several)
            AppendConcatenation(ud, options.reference, ends.size(), part + 1);
        AppendOctet(pdu, static_cast<unsigned>(udl));
        AppendOctets(pdu, ud);
        message.pdus.push_back(std::move(pdu));
        start = end;
    }
    return message;
}

}  // namespace velmo::sms
