#include "smscodec/StatusReport.h"

#include "smscodec/PduReader.h"

namespace velmo::sms {

namespace {

constexpr unsigned kStatusReportType = 2;

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Two decimal digits written with swapped nibbles; -1 when a nibble is no digit.
int SwappedDigits(std::uint8_t octet)
{
    unsigned tens = octet & 0xF, units = octet >> 4;
    return tens > 9 || units > 9 ? -1 : static_cast<int>(tens * 10 + units);
}

PduTime ReadTime(PduReader& r)
{
    auto octets = r.Take(7);
    PduTime t;
    if (!r.ok)
        return t;
    int fields[6];
    for (int i = 0; i < 6; ++i)
        fields[i] = SwappedDigits(octets[i]);
    // The zone: quarter hours in two digits, the sign in bit 3 of the tens.
    unsigned zoneTens = octets[6] & 0x7, zoneUnits = octets[6] >> 4;
    bool west = octets[6] & 0x8;
    t.year = 2000 + fields[0];
    t.month = fields[1];
    t.day = fields[2];
    t.hour = fields[3];
    t.minute = fields[4];
    t.second = fields[5];
    t.offsetMinutes = static_cast<int>(zoneTens * 10 + zoneUnits) * 15 * (west ? -1 : 1);
    t.valid = fields[0] >= 0 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
              t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60 &&
              zoneUnits <= 9 && zoneTens * 10 + zoneUnits <= 79;
    if (!t.valid)
        t = PduTime{};
    return t;
}

std::optional<StatusReport> Decode(const std::vector<std::uint8_t>& octets, bool withSmsc)
{
    PduReader r{octets};
    if (withSmsc)
        r.Take(r.Octet());
    unsigned first = r.Octet();
    if (!r.ok || (first & 0x03) != kStatusReportType)
        return std::nullopt;
    StatusReport out;
    out.ofCommand = first & 0x20;
    out.reference = r.Octet();
    out.recipient = ReadAddress(r);
    out.submitted = ReadTime(r);
    out.discharged = ReadTime(r);
    out.status = r.Octet();
    if (!r.ok)
        return std::nullopt;
    if (r.AtEnd())
        return out;
    // TP-PI and the fields it announces: PID, DCS, then UDL and the user data.
    unsigned indicator = r.Octet();
    if (indicator & 0x01)
        r.Octet();
    unsigned dcs = (indicator & 0x02) ? r.Octet() : 0;
    if (indicator & 0x04) {
        std::size_t udl = r.Octet();
        bool septets = (dcs & 0xC0) == 0 && ((dcs >> 2) & 3) == 0;
        r.Take(septets ? (udl * 7 + 7) / 8 : udl);
    }
    if (!r.ok || !r.AtEnd())
        return std::nullopt;
    return out;
}

}  // namespace

std::int64_t PduTime::UnixSeconds() const
{
    if (!valid)
        return 0;
    std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return days * 86400 + hour * 3600 + minute * 60 + second - offsetMinutes * 60LL;
}

std::optional<StatusReport> DecodeStatusReportAs(std::string_view hex, bool withSmsc)
{
    return DecodeOneWay(hex, withSmsc, Decode);
}

std::optional<StatusReport> DecodeStatusReport(std::string_view hex, std::uint16_t noSmsc)
{
    return DecodeEitherWay(hex, noSmsc, Decode);
}

Delivery DeliveryOf(unsigned status)
{
    if (status <= 0x1F)
        return Delivery::Delivered;
    if (status <= 0x3F)
        return Delivery::Pending;
    return Delivery::Failed;
}

std::string StatusMeaning(unsigned status)
{
    switch (status) {
    case 0x00: return "Short message received by the SME";
    case 0x01: return "Short message forwarded by the SC to the SME but the SC is unable to confirm delivery";
    case 0x02: return "Short message replaced by the SC";
    case 0x20: return "Congestion";
    case 0x21: return "SME busy";
    case 0x22: return "No response from SME";
    case 0x23: return "Service rejected";
    case 0x24: return "Quality of service not available";
    case 0x25: return "Error in SME";
    case 0x40: return "Remote procedure error";
    case 0x41: return "Incompatible destination";
    case 0x42: return "Connection rejected by SME";
    case 0x43: return "Not obtainable";
    case 0x44: return "Quality of service not available";
    case 0x45: return "No interworking available";
    case 0x46: return "SM Validity Period Expired";
    case 0x47: return "SM Deleted by originating SME";
    case 0x48: return "SM Deleted by SC Administration";
    case 0x49: return "SM does not exist";
    case 0x60: return "Congestion; the SC makes no more attempts";
    case 0x61: return "SME busy; the SC makes no more attempts";
    case 0x62: return "No response from SME; the SC makes no more attempts";
    case 0x63: return "Service rejected; the SC makes no more attempts";
    case 0x64: return "Quality of service not available; the SC makes no more attempts";
    case 0x65: return "Error in SME; the SC makes no more attempts";
    default: break;
    }
    if (status >= 0x80)
        return "A reserved value";
    bool specific = (status >= 0x10 && status <= 0x1F) || (status >= 0x30 && status <= 0x3F) ||
                    (status >= 0x50 && status <= 0x5F) || (status >= 0x70 && status <= 0x7F);
    const char* range = status <= 0x1F   ? "transaction completed"
                        : status <= 0x3F ? "temporary error, the SC still tries"
                        : status <= 0x5F ? "permanent error, the SC makes no more attempts"
                                         : "temporary error, the SC makes no more attempts";
    return std::string(specific ? "A value specific to the SC" : "A reserved value") + " (" + range + ")";
}

}  // namespace velmo::sms
