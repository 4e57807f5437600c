#include "tools/velmo/PduCommand.h"

#include "messagefile/Duration.h"
#include "smscodec/DeliverPdu.h"
#include "smscodec/ReceivedPdu.h"
#include "smscodec/SubmitPdu.h"
#include "platform/Text.h"

#include <charconv>
#include <cstdio>
#include <ostream>

namespace velmo::cli {

namespace {

constexpr const char* kUsage =
    "usage: velmo pdu encode [--nosmsc] [--full] [--parts N] [--report] [--validity PERIOD] NUMBER TEXT | velmo pdu "
    "decode [--nosmsc] PDU";

int Usage(std::ostream& err, const std::string& why)
{
    err << "velmo pdu: " << why << " (" << kUsage << ")\n";
    return 2;
}

// UTF-8 from the terminal to the device's 8-bit text.
std::string ToDevice(const std::string& utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); }

const char* CodingName(sms::Coding coding)
{
    return coding == sms::Coding::Ucs2 ? "UCS2" : coding == sms::Coding::EightBit ? "8-bit data" : "GSM 7-bit";
}

// A time stamp as the network wrote it: "2026-12-09 10:00:30 +01:00".
std::string TimeText(const sms::PduTime& t)
{
    if (!t.valid)
        return "(not a date)";
    char text[40];
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

void ShowReport(const sms::StatusReport& r, std::ostream& out)
{
    const char* outcome = sms::DeliveryOf(r.status) == sms::Delivery::Delivered ? "delivered"
                          : sms::DeliveryOf(r.status) == sms::Delivery::Pending ? "pending"
                                                                                : "undelivered";
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", r.status);
    out << "SMS-STATUS-REPORT\nreference " << r.reference << "\nrecipient " << Utf16ToUtf8(r.recipient)
        << "\nsubmitted " << TimeText(r.submitted) << "\ndischarged " << TimeText(r.discharged) << "\nstatus " << status
        << " " << outcome << ": " << sms::StatusMeaning(r.status) << "\n";
}

// A message: its address and text, then its type and coding unless it is
// a GSM 7-bit SMS-DELIVER, then its user data header.
void ShowMessage(const sms::DecodedPdu& pdu, std::ostream& out)
{
    out << Utf16ToUtf8(pdu.address) << "\n" << Utf16ToUtf8(pdu.text) << "\n";
    if (pdu.submit || pdu.coding != sms::Coding::Gsm7)
        out << (pdu.submit ? "SMS-SUBMIT" : "SMS-DELIVER") << ", " << CodingName(pdu.coding) << "\n";
    if (!pdu.header.empty()) {
        out << "header " << pdu.header;
        if (const auto& c = pdu.concatenation)
            out << ": part " << c->sequence << " of " << c->total << ", reference " << c->reference
                << (c->sixteenBit ? " (16-bit)" : "");
        out << "\n";
    }
}

}  // namespace

int PduCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty())
        return Usage(err, "missing encode or decode");
    const std::string& verb = args[0];
    sms::SubmitOptions options;
    bool several = false;  // --full or --parts: one line per part
    std::vector<std::string> rest;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--nosmsc") {
            options.noSmsc = 1;
        } else if (args[i] == "--full" && verb == "encode") {
            options.fullAlphabet = true;
            several = true;
        } else if (args[i] == "--report" && verb == "encode") {
            options.statusReport = true;
        } else if (args[i] == "--validity" && verb == "encode") {
            std::optional<std::uint64_t> period =
                i + 1 < args.size() ? messagefile::ParseDuration(args[i + 1]) : std::nullopt;
            if (!period)
                return Usage(err, "--validity takes a period such as 30m, 6h or 4d");
            options.validity = sms::ValidityOctet(*period);
            ++i;
        } else if (args[i] == "--parts" && verb == "encode") {
            unsigned n = 0;
            const std::string value = i + 1 < args.size() ? args[i + 1] : "";
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > 255)
                return Usage(err, "--parts takes a number from 1 to 255");
            options.maxParts = n;
            several = true;
            ++i;
        } else if (args[i].size() > 2 && args[i].rfind("--", 0) == 0) {
            return Usage(err, "unknown option " + args[i]);
        } else {
            rest.push_back(args[i]);
        }
    }
    if (verb == "encode") {
        if (rest.size() != 2)
            return Usage(err, rest.size() < 2 ? "encode needs NUMBER and TEXT" : "too many arguments");
        if (rest[0].empty())
            return Usage(err, "NUMBER is empty");
        sms::SubmitMessage message = sms::EncodeSubmit(ToDevice(rest[0]), Utf8ToUtf16(rest[1]), options);
        if (!several) {
            out << message.pdus[0] << "\n" << sms::SubmitLength(message.pdus[0], options.noSmsc) << "\n";
            return 0;
        }
        for (const std::string& pdu : message.pdus)
            out << pdu << "\t" << sms::SubmitLength(pdu, options.noSmsc) << "\n";
        if (message.cut)
            err << "velmo pdu: the text was cut to fit " << message.pdus.size() << " part(s)\n";
        return 0;
    }
    if (verb == "decode") {
        if (rest.size() != 1)
            return Usage(err, rest.empty() ? "decode needs PDU" : "too many arguments");
        sms::ReceivedPdu received = sms::DecodeReceived(rest[0], options.noSmsc);
        if (received.report) {
            ShowReport(*received.report, out);
            return 0;
        }
        if (!received.message) {
            err << "velmo pdu: this is no SMS-DELIVER, SMS-SUBMIT or SMS-STATUS-REPORT PDU, or it holds less than "
                   "its header says\n";
            return 1;
        }
        ShowMessage(*received.message, out);
        return 0;
    }
    return Usage(err, "unknown command " + verb);
}

}  // namespace velmo::cli
