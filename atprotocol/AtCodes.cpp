#include "atprotocol/AtCodes.h"

#include <cctype>

namespace velmo::at {

namespace {

bool SameNoCase(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool StartsNoCase(std::string_view line, std::string_view prefix)
{
    if (line.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (!SameNoCase(line[i], prefix[i]))
            return false;
    return true;
}

std::string_view TrimEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

bool EqualsNoCase(std::string_view line, std::string_view text)
{
    line = TrimEnd(line);
    return line.size() == text.size() && StartsNoCase(line, text);
}

struct FinalCode {
    std::string_view text;
    Final final;
    bool prefix;
};

constexpr FinalCode kFinals[] = {
    {"OK", Final::Ok, false},
    {"ERROR", Final::Error, false},
    {"+CMS ERROR", Final::CmsError, true},
    {"+CME ERROR", Final::CmeError, true},
    {"NO CARRIER", Final::NoCarrier, false},
    {"BUSY", Final::Busy, false},
    {"NO ANSWER", Final::NoAnswer, false},
    {"NO DIALTONE", Final::NoDialtone, false},
    {"COMMAND NOT SUPPORT", Final::NotSupported, false},
};

using U = Unsolicited;

// Longer prefixes before shorter ones that begin them (+CMTI before +CMT).
constexpr UnsolicitedCode kUnsolicited[] = {
    {"+CMTI:", U::StoredMessage, false, false},
    {"+CMT:", U::DirectMessage, true, false},
    {"+CDSI:", U::StatusReport, false, false},
    {"+CDS:", U::StatusReport, true, false},
    {"+CBMI:", U::Broadcast, false, false},
    {"+CBM:", U::Broadcast, true, false},
    {"+CREG:", U::Registration, false, false},
    {"+CGREG:", U::Registration, false, false},
    {"+CEREG:", U::Registration, false, false},
    {"+C5GREG:", U::Registration, false, false},
    {"+CSQ:", U::Signal, false, false},
    {"^RSSI:", U::Signal, false, false},
    {"RING", U::Other, false, true},
    {"+CRING:", U::Other, false, false},
    {"+CLIP:", U::Other, false, false},
    {"+CCWA:", U::Other, false, false},
    {"+CUSD:", U::Other, false, false},
    {"+CSSI:", U::Other, false, false},
    {"+CSSU:", U::Other, false, false},
    {"+CIEV:", U::Other, false, false},
    {"+CGEV:", U::Other, false, false},
    {"+CPIN:", U::Other, false, false},
    {"+CFUN:", U::Other, false, false},
    {"+CTZV:", U::Other, false, false},
    {"+CTZE:", U::Other, false, false},
    {"+CTZU:", U::Other, false, false},
    {"+PACSP", U::Other, false, false},
    {"+QIND:", U::Other, false, false},
    {"+QUSIM:", U::Other, false, false},
    {"+STIN:", U::Other, false, false},
    {"^STIN:", U::Other, false, false},
    {"^BOOT:", U::Other, false, false},
    {"^MODE:", U::Other, false, false},
    {"^HCSQ:", U::Other, false, false},
    {"^SRVST:", U::Other, false, false},
    {"^SIMST:", U::Other, false, false},
    {"^SYSSTART", U::Other, false, true},
    {"^DSFLOWRPT:", U::Other, false, false},
    {"^RFSWITCH:", U::Other, false, false},
    {"^NDISSTAT:", U::Other, false, false},
    {"^CEND:", U::Other, false, false},
    {"^ORIG:", U::Other, false, false},
    {"^CONF:", U::Other, false, false},
    {"^CONN:", U::Other, false, false},
    {"*PSUTTZ:", U::Other, false, false},
    {"NO CARRIER", U::Other, false, true},
    {"BUSY", U::Other, false, true},
    {"NO ANSWER", U::Other, false, true},
    {"NO DIALTONE", U::Other, false, true},
    {"SMS DONE", U::Other, false, true},
    {"SMS READY", U::Other, false, true},
    {"PB DONE", U::Other, false, true},
    {"CALL READY", U::Other, false, true},
    {"RDY", U::Other, false, true},
};

}  // namespace

Final MatchFinal(std::string_view line)
{
    for (const FinalCode& code : kFinals)
        if (code.prefix ? StartsNoCase(line, code.text) : EqualsNoCase(line, code.text))
            return code.final;
    return Final::None;
}

const UnsolicitedCode* MatchUnsolicited(std::string_view line)
{
    for (const UnsolicitedCode& code : kUnsolicited)
        if (code.exact ? EqualsNoCase(line, code.text) : StartsNoCase(line, code.text))
            return &code;
    return nullptr;
}

bool IsHexLine(std::string_view line)
{
    line = TrimEnd(line);
    if (line.empty())
        return false;
    for (char c : line)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace velmo::at
