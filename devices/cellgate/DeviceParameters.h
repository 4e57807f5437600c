// The GSM device's parameters: the param elements of its entry in
// config.xml (at any depth, names in any case, a later one overriding an
// earlier one), what each becomes, and what is wrong with them, in words
// an administrator can act on.
#pragma once

#include "platform/Bstr.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::cellgate {

// The parameters as Load leaves them.
struct PduParameters {
    std::uint16_t Port = 0;  // n of COM<n>:, 0 when a path (or nothing) names the port
    Bstr PortPath;           // the port as a device path, "/dev/serial/by-id/..."
    Bstr CommConfig;
    Bstr Pin;         // none: no PIN is ever sent
    Bstr SMSCentral;  // none: the SIM's own service centre
    std::uint16_t NoSMSC = 0;
    Bstr DumpFile;
    Bstr CNMI{u"1,2"};
    std::uint16_t FullAlphabet = 0;
    std::uint16_t MaxParts = 1;
    std::uint16_t StatusReport = 0;  // 1: every message asks for the network's delivery report
    Bstr ValidityPeriod;             // how long the network keeps trying ("30m", "6h", "4d"); none: four days
};

// What is wrong with an entry: problems keep the device from loading,
// warnings do not. Each is one sentence that names the entry and the
// parameter.
struct ParameterFindings {
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
};

// Applies the param elements of a configuration entry; false when the text
// is not XML. A value that does not convert leaves the parameter as it was
// (Port takes a number or a device path beginning with "/"). Names the
// device does not know, and values that do not convert, are added to
// findings as warnings when findings is given.
bool LoadParameters(std::u16string_view xml, PduParameters& params, ParameterFindings* findings = nullptr);

// The name attribute of the entry element; "" when there is none or the
// text is not XML.
std::string EntryName(std::u16string_view xml);

// What keeps the parameters from opening a port (no port, no line
// settings, line settings that do not read) and what is out of range.
void CheckParameters(const PduParameters& params, const std::string& entry, ParameterFindings& findings);

// The relative validity octet the parameters choose: ValidityPeriod
// rounded up to what the octet can say, four days when it is not given or
// not a period.
unsigned ValidityOf(const PduParameters& params);

// The port as CreateFileW opens it: "COM<n>:" or the device path; "" when
// the parameters name none.
std::string PortName(const PduParameters& params);

}  // namespace velmo::cellgate
