// Reading an SMS-STATUS-REPORT (3GPP TS 23.040, 9.2.2.3): what the network
// says became of a message this system submitted, as a modem gives it
// after "+CDS", "+CMGR" or "+CMGL" in PDU mode.
//
// Read strictly by the header's own fields, like DecodePdu: the message
// type must be a status report, every field must be there, and after TP-ST
// only a parameter indicator with exactly the fields it announces may
// follow. A time stamp whose digits are no date is kept as not valid; the
// report is still read (the status is what matters).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmo::sms {

// A service-centre time stamp as the network wrote it: local time and its
// offset from UTC.
struct PduTime {
    bool valid = false;  // the digits are a date and a time
    int year = 0;        // 2000 + the two digits
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int offsetMinutes = 0;  // local time minus UTC, in steps of 15 minutes
    // Seconds since 1970 (UTC); 0 when not valid.
    std::int64_t UnixSeconds() const;
};

struct StatusReport {
    unsigned reference = 0;    // TP-MR of the submitted message, 0..255
    std::u16string recipient;  // TP-RA, as the address is read for DecodePdu
    PduTime submitted;         // TP-SCTS: when the service centre took the message
    PduTime discharged;        // TP-DT: when it was delivered, or last tried
    unsigned status = 0;       // TP-ST
    bool ofCommand = false;    // TP-SRQ: the report is of an SMS-COMMAND
};

// The hex PDU (either case), with or without the service-centre part: with
// noSmsc 0 it is read with one first and without one when that fails, and
// the other way round for noSmsc non-zero. nullopt when it reads neither
// way.
std::optional<StatusReport> DecodeStatusReport(std::string_view hex, std::uint16_t noSmsc);
// The same in one reading only: withSmsc, a service-centre part comes first.
std::optional<StatusReport> DecodeStatusReportAs(std::string_view hex, bool withSmsc);

// What a TP-ST value means for the message.
enum class Delivery {
    Delivered,  // 0x00-0x1F: the transaction is complete
    Pending,    // 0x20-0x3F: a temporary error; the centre keeps trying
    Failed,     // 0x40-0x7F: a permanent error, or the centre gave up; reserved values above
};
Delivery DeliveryOf(unsigned status);

// The TP-ST value in words, as 23.040 names it ("Short message received by
// the SME", "SM Validity Period Expired", ...), or what its range says for
// a reserved or centre-specific value.
std::string StatusMeaning(unsigned status);

}  // namespace velmo::sms
