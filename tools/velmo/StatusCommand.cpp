#include "tools/velmo/StatusCommand.h"

#include "interfaces/VelmoLib.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "tools/velmo/ServiceClient.h"

#include <cstdio>
#include <ostream>

namespace velmo::cli {

namespace {

const char* StatusWord(LONG status)
{
    switch (status) {
    case QUEUED: return "QUEUED";
    case SENT: return "SENT";
    case FAILED: return "FAILED";
    case RECEIVED: return "RECEIVED";
    default: return nullptr;
    }
}

// Line ends as this system's own: the service writes "\r\n" into status texts.
std::string Lines(const VARIANT& text)
{
    if (text.vt != VT_BSTR)
        return std::string();
    std::string s = Bstr(text.bstrVal).Utf8();
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    return out;
}

} // namespace

std::string IsoUtc(const VARIANT& date)
{
    SYSTEMTIME st{};
    if (date.vt != VT_DATE || !VariantTimeToSystemTime(date.date, &st))
        return std::string();
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return buf;
}

int StatusCommand(std::vector<std::string> args, std::ostream& out, std::ostream& err)
{
    std::string host;
    if (!TakeHostOption(args, host) || args.size() != 1 || args[0].empty()) {
        err << "usage: velmo status [--host [USER@]HOST] ID\n";
        return 2;
    }
    ServiceObject center(CLSID_MessageCenter, host);
    if (!center.ok()) {
        err << "velmo: " << center.error() << "\n";
        return 1;
    }
    Variant id = Variant::FromBstr(Utf8ToUtf16(args[0]));
    Variant text, date, status;
    VARIANT textRef{}, dateRef{};
    textRef.vt = dateRef.vt = VT_BYREF | VT_VARIANT;
    textRef.pvarVal = &text;
    dateRef.pvarVal = &date;
    if (!center.Call(u"QueryMessageStatus", {id, textRef, dateRef}, status.Receive())) {
        err << "velmo: " << center.error() << "\n";
        return 1;
    }
    LONG code = status.vt == VT_I4 ? status.lVal : NOT_FOUND;
    if (code == NOT_FOUND) {
        out << "NOT_FOUND\n";
        return 3;
    }
    const char* word = StatusWord(code);
    out << (word ? word : std::to_string(code).c_str()) << "\n" << IsoUtc(date) << "\n";
    std::string lines = Lines(text);
    if (!lines.empty())
        out << lines << (lines.ends_with('\n') ? "" : "\n");
    return 0;
}

} // namespace velmo::cli
