#include "tools/velmo/PduCommand.h"

#include "devices/gsm/DeliverPdu.h"
#include "devices/gsm/SubmitPdu.h"
#include "platform/Text.h"

#include <ostream>

namespace velmo::cli {

namespace {

constexpr const char* kUsage = "usage: velmo pdu encode [--nosmsc] NUMBER TEXT | velmo pdu decode [--nosmsc] PDU";

int Usage(std::ostream& err, const std::string& why)
{
    err << "velmo pdu: " << why << " (" << kUsage << ")\n";
    return 2;
}

// UTF-8 from the terminal to the device's 8-bit text, and back.
std::string ToDevice(const std::string& utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); }
std::string FromDevice(const std::string& ansi) { return Utf16ToUtf8(AnsiToUtf16(ansi)); }

} // namespace

int PduCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty())
        return Usage(err, "missing encode or decode");
    const std::string& verb = args[0];
    std::uint16_t noSmsc = 0;
    std::vector<std::string> rest;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--nosmsc")
            noSmsc = 1;
        else if (args[i].size() > 2 && args[i].rfind("--", 0) == 0)
            return Usage(err, "unknown option " + args[i]);
        else
            rest.push_back(args[i]);
    }
    if (verb == "encode") {
        if (rest.size() != 2)
            return Usage(err, rest.size() < 2 ? "encode needs NUMBER and TEXT" : "too many arguments");
        if (rest[0].empty())
            return Usage(err, "NUMBER is empty");
        std::string pdu = gsm::EncodeSubmitPdu(ToDevice(rest[0]), ToDevice(rest[1]), noSmsc);
        out << pdu << "\n" << gsm::SubmitLength(pdu, noSmsc) << "\n";
        return 0;
    }
    if (verb == "decode") {
        if (rest.size() != 1)
            return Usage(err, rest.empty() ? "decode needs PDU" : "too many arguments");
        std::string sender, text;
        gsm::DecodeDeliverPdu(rest[0], sender, text, noSmsc);
        out << FromDevice(sender) << "\n" << FromDevice(text) << "\n";
        return 0;
    }
    return Usage(err, "unknown command " + verb);
}

} // namespace velmo::cli
