#include "tools/velmo/SendCommand.h"

#include "gatewayclient/GatewayClient.h"
#include "interfaces/VelmoLib.h"
#include "messagefile/Duration.h"
#include "platform/Text.h"
#include "tools/velmo/ServiceClient.h"

#include <istream>
#include <iterator>
#include <optional>
#include <ostream>

namespace velmo::cli {

namespace {

constexpr char kUsage[] = "usage: velmo send [--host [USER@]HOST] [--expire PERIOD] TO [TEXT...]\n";

// Takes --expire PERIOD from the front of args; false when it has no
// value or the value is no period.
bool TakeExpireOption(std::vector<std::string>& args, std::string& expire, std::ostream& err)
{
    while (!args.empty() && args[0] == "--expire") {
        std::optional<std::uint64_t> period =
            args.size() >= 2 ? messagefile::ParseDuration(args[1]) : std::optional<std::uint64_t>();
        if (!period || *period == 0) {
            err << "velmo send: --expire takes a period such as 30m, 6h or 4d\n";
            return false;
        }
        expire = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

// The message through the gateway's SendExpiring: NewSMS has no expiry.
int SendExpiring(const std::string& host, const std::string& to, const std::string& text, const std::string& expire,
                 std::ostream& out, std::ostream& err)
{
    std::string why, id;
    auto gateway = gatewayclient::GatewayClient::Connect(host, why);
    if (!gateway) {
        err << "velmo: " << why << "\n";
        return 1;
    }
    if (!gateway->Send(to, text, id, expire)) {
        err << "velmo: " << gateway->Error() << "\n";
        return 1;
    }
    out << id << "\n";
    return 0;
}

}  // namespace

int SendCommand(std::vector<std::string> args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string host, expire;
    bool options = true;
    while (options && !args.empty()) {
        std::size_t before = args.size();
        if (!TakeHostOption(args, host) || !TakeExpireOption(args, expire, err)) {
            err << kUsage;
            return 2;
        }
        options = args.size() != before;
    }
    if (args.empty() || args[0].empty() || args[0][0] == '-') {
        err << kUsage;
        return 2;
    }
    std::string text;
    if (args.size() > 1) {
        for (std::size_t i = 1; i < args.size(); ++i)
            text += (i > 1 ? " " : "") + args[i];
    } else {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (text.ends_with("\r\n"))
            text.resize(text.size() - 2);
        else if (text.ends_with('\n'))
            text.pop_back();
    }

    if (!expire.empty())
        return SendExpiring(host, args[0], text, expire, out, err);
    ServiceObject sms(CLSID_NewSMS, host);
    if (!sms.ok()) {
        err << "velmo: " << sms.error() << "\n";
        return 1;
    }
    Variant to = Variant::FromBstr(Utf8ToUtf16(args[0]));
    Variant body = Variant::FromBstr(Utf8ToUtf16(text));
    Variant id;
    if (!sms.Call(u"Send", {to, body}, id.Receive())) {
        err << "velmo: " << sms.error() << "\n";
        return 1;
    }
    if (id.vt != VT_BSTR) {
        err << "velmo: the service returned no message identifier\n";
        return 1;
    }
    out << Bstr(id.bstrVal).Utf8() << "\n";
    return 0;
}

}  // namespace velmo::cli
