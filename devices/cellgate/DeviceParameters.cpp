#include "devices/cellgate/DeviceParameters.h"

#include "messagefile/Duration.h"
#include "platform/Serial.h"
#include "smscodec/SubmitPdu.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <algorithm>
#include <optional>
#include <pugixml.hpp>

namespace velmo::cellgate {

namespace {

enum class Kind { Port, UInt16, String, Boolean };

struct PropertyEntry {
    const char16_t* name;
    Kind kind;
    std::uint16_t PduParameters::*number;
    Bstr PduParameters::*text;
};

const PropertyEntry kTable[] = {
    {u"Port", Kind::Port, &PduParameters::Port, &PduParameters::PortPath},
    {u"CommConfig", Kind::String, nullptr, &PduParameters::CommConfig},
    {u"Pin", Kind::String, nullptr, &PduParameters::Pin},
    {u"SMSCentral", Kind::String, nullptr, &PduParameters::SMSCentral},
    {u"NoSMSC", Kind::Boolean, &PduParameters::NoSMSC, nullptr},
    {u"DumpFile", Kind::String, nullptr, &PduParameters::DumpFile},
    {u"CNMI", Kind::String, nullptr, &PduParameters::CNMI},
    {u"FullAlphabet", Kind::Boolean, &PduParameters::FullAlphabet, nullptr},
    {u"MaxParts", Kind::UInt16, &PduParameters::MaxParts, nullptr},
    {u"StatusReport", Kind::Boolean, &PduParameters::StatusReport, nullptr},
    {u"ValidityPeriod", Kind::String, nullptr, &PduParameters::ValidityPeriod},
};

constexpr unsigned kMostParts = 255;

// How far apart two names are (insertions, deletions, changes), without
// regard to case; for "did you mean".
std::size_t Distance(std::u16string_view a, std::u16string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            bool same = FoldCase(a[i - 1]) == FoldCase(b[j - 1]);
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

class Loader {
public:
    Loader(PduParameters& p, ParameterFindings* findings, std::string entry)
        : p_(p), findings_(findings), entry_(std::move(entry))
    {}

    // Every element at any depth, in document order, as a SAX handler sees them.
    void Visit(const pugi::xml_node& node)
    {
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element)
                continue;
            std::string_view local = child.name();
            if (auto colon = local.rfind(':'); colon != std::string_view::npos)
                local.remove_prefix(colon + 1);
            pugi::xml_attribute name = child.attribute("name"), value = child.attribute("value");
            if (EqualsNoCase(Utf8ToUtf16(local), u"param") && name && value)
                Store(Utf8ToUtf16(name.value()), Utf8ToUtf16(value.value()));
            Visit(child);
        }
    }

private:
    void Store(std::u16string_view name, std::u16string_view value)
    {
        for (const PropertyEntry& row : kTable) {
            if (!EqualsNoCase(name, row.name))
                continue;
            // The first row that matches; a value that does not convert changes nothing.
            if (!Apply(row, value))
                Warn("has " + Utf16ToUtf8(row.name) + " \"" + Utf16ToUtf8(value) + "\", which " +
                     (row.kind == Kind::Port      ? "is neither a device path nor the number n of COM<n>:"
                      : row.kind == Kind::Boolean ? "is not 0 or 1"
                                                  : "is not a number from 0 to 65535") +
                     ": it is ignored");
            return;
        }
        std::u16string_view nearest;
        for (const PropertyEntry& row : kTable)
            if (Distance(name, row.name) <= 2)
                nearest = row.name;
        Warn("has an unknown parameter " + Utf16ToUtf8(name) +
             (nearest.empty() ? std::string(": it is ignored")
                              : ": it is ignored (did you mean " + Utf16ToUtf8(nearest) + "?)"));
    }

    bool Apply(const PropertyEntry& row, std::u16string_view value)
    {
        Variant text = Variant::FromBstr(value);
        Variant converted;
        switch (row.kind) {
        case Kind::String: p_.*row.text = Bstr(value); return true;
        case Kind::Port:
            if (!value.empty() && value.front() == u'/') {
                p_.*row.text = Bstr(value);
                p_.*row.number = 0;
                return true;
            }
            if (FAILED(VariantChangeType(&converted, &text, 0, VT_UI2)))
                return false;
            p_.*row.number = converted.uiVal;
            p_.*row.text = Bstr();
            return true;
        case Kind::UInt16:
            if (FAILED(VariantChangeType(&converted, &text, 0, VT_UI2)))
                return false;
            p_.*row.number = converted.uiVal;
            return true;
        case Kind::Boolean:
            if (FAILED(VariantChangeType(&converted, &text, 0, VT_BOOL)))
                return false;
            p_.*row.number = converted.boolVal != VARIANT_FALSE ? 1 : 0;
            return true;
        }
        return false;
    }

    void Warn(const std::string& what)
    {
        if (findings_)
            findings_->warnings.push_back("the device entry " + entry_ + " " + what);
    }

    PduParameters& p_;
    ParameterFindings* findings_;
    std::string entry_;
};

}  // namespace

std::string EntryName(std::u16string_view xml)
{
    std::string text = Utf16ToUtf8(xml);
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size()))
        return {};
    return doc.document_element().attribute("name").value();
}

bool LoadParameters(std::u16string_view xml, PduParameters& params, ParameterFindings* findings)
{
    std::string text = Utf16ToUtf8(xml);
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size()))
        return false;
    std::string entry = doc.document_element().attribute("name").value();
    Loader(params, findings, entry.empty() ? "(without a name)" : entry).Visit(doc);
    return true;
}

void CheckParameters(const PduParameters& p, const std::string& entry, ParameterFindings& findings)
{
    std::string the = "the device entry " + (entry.empty() ? std::string("(without a name)") : entry);
    if (p.Port == 0 && p.PortPath.IsEmpty())
        findings.problems.push_back(the + " has no Port: give the modem's device path (/dev/serial/by-id/...) or the "
                                          "number n of COM<n>:");
    if (p.CommConfig.IsEmpty()) {
        findings.problems.push_back(the + " has no CommConfig: give the line settings, such as 115200,n,8,1");
    } else {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!BuildCommDCBW(p.CommConfig.get(), &dcb))
            findings.problems.push_back(the + " has CommConfig \"" + Utf16ToUtf8(p.CommConfig.view()) +
                                        "\", which is not line settings such as 115200,n,8,1");
    }
    if (p.MaxParts == 0 || p.MaxParts > kMostParts)
        findings.warnings.push_back(the + " has MaxParts " + std::to_string(p.MaxParts) + ": 1 to 255 are allowed; " +
                                    (p.MaxParts == 0 ? "1" : "255") + " is used");
    std::string validity = Utf16ToUtf8(p.ValidityPeriod.view());
    std::optional<std::uint64_t> period = messagefile::ParseDuration(validity);
    if (!validity.empty() && (!period || *period == 0))
        findings.warnings.push_back(the + " has ValidityPeriod \"" + validity +
                                    "\", which is not a period such as 30m, 6h or 4d: four days are used");
    else if (period && sms::ValiditySeconds(ValidityOf(p)) != *period)
        findings.warnings.push_back(the + " has ValidityPeriod " + validity + ", which the network is told as " +
                                    messagefile::FormatDuration(sms::ValiditySeconds(ValidityOf(p))) +
                                    " (the nearest longer period a message can carry)");
    std::string cnmi = Utf16ToUtf8(p.CNMI.view());
    if (!cnmi.empty() && cnmi.find_first_not_of("0123456789, ") != std::string::npos)
        findings.warnings.push_back(the + " has CNMI \"" + cnmi +
                                    "\", which is not numbers such as 1,1: the modem will likely refuse it");
}

unsigned ValidityOf(const PduParameters& p)
{
    std::optional<std::uint64_t> period = messagefile::ParseDuration(Utf16ToUtf8(p.ValidityPeriod.view()));
    return period && *period > 0 ? sms::ValidityOctet(*period) : sms::kFourDays;
}

std::string PortName(const PduParameters& p)
{
    if (!p.PortPath.IsEmpty())
        return Utf16ToUtf8(p.PortPath.view());
    return p.Port ? "COM" + std::to_string(p.Port) + ":" : std::string();
}

}  // namespace velmo::cellgate
