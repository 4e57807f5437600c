#include "tools/velmo/SendCommand.h"

#include "interfaces/VelmoLib.h"
#include "platform/Text.h"
#include "tools/velmo/ServiceClient.h"

#include <istream>
#include <iterator>
#include <ostream>

namespace velmo::cli {

int SendCommand(std::vector<std::string> args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string host;
    if (!TakeHostOption(args, host) || args.empty() || args[0].empty() || args[0][0] == '-') {
        err << "usage: velmo send [--host [USER@]HOST] TO [TEXT...]\n";
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
