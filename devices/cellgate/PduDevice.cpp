#include "devices/cellgate/PduDevice.h"

#include "devices/cellgate/ModemSession.h"
#include "devices/cellgate/ModemStartup.h"

#include "platform/ClassFactory.h"
#include "platform/Serial.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <algorithm>
#include <pugixml.hpp>

namespace velmo::cellgate {

namespace {

constexpr const char16_t* kSource = u"Cellgate.PDU.1";

enum class Kind { UInt16, String, Boolean };

struct PropertyEntry {
    const char16_t* name;
    Kind kind;
    std::uint16_t PduParameters::*number;
    Bstr PduParameters::*text;
};

const PropertyEntry kTable[] = {
    {u"Port", Kind::UInt16, &PduParameters::Port, nullptr},
    {u"CommConfig", Kind::String, nullptr, &PduParameters::CommConfig},
    {u"Pin", Kind::String, nullptr, &PduParameters::Pin},
    {u"SMSCentral", Kind::String, nullptr, &PduParameters::SMSCentral},
    {u"NoSMSC", Kind::Boolean, &PduParameters::NoSMSC, nullptr},
    {u"DumpFile", Kind::String, nullptr, &PduParameters::DumpFile},
    {u"CNMI", Kind::String, nullptr, &PduParameters::CNMI},
    {u"FullAlphabet", Kind::Boolean, &PduParameters::FullAlphabet, nullptr},
    {u"MaxParts", Kind::UInt16, &PduParameters::MaxParts, nullptr},
};

void Store(PduParameters& p, std::u16string_view name, std::u16string_view value)
{
    for (const PropertyEntry& row : kTable) {
        if (!EqualsNoCase(name, row.name))
            continue;
        Variant text = Variant::FromBstr(value);
        Variant converted;
        if (row.kind == Kind::String)
            p.*row.text = Bstr(value);
        else if (row.kind == Kind::UInt16 && SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_UI2)))
            p.*row.number = converted.uiVal;
        else if (row.kind == Kind::Boolean && SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_BOOL)))
            p.*row.number = converted.boolVal != VARIANT_FALSE ? 1 : 0;
        return;  // the first row that matches; a value that does not convert changes nothing
    }
}

// Every element at any depth, in document order, as a SAX handler sees them.
void Visit(const pugi::xml_node& node, PduParameters& p)
{
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        std::string_view local = child.name();
        if (auto colon = local.rfind(':'); colon != std::string_view::npos)
            local.remove_prefix(colon + 1);
        pugi::xml_attribute name = child.attribute("name"), value = child.attribute("value");
        if (EqualsNoCase(Utf8ToUtf16(local), u"param") && name && value)
            Store(p, Utf8ToUtf16(name.value()), Utf8ToUtf16(value.value()));
        Visit(child, p);
    }
}

// Why a port did not open, for the administrator who reads the event.
std::string PortFailure(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "there is no such device (error " + std::to_string(code) + ")";
    case ERROR_ACCESS_DENIED:
        return "access denied: another program has it open, or this user may not use it (the dialout group) (error 5)";
    default: return "error " + std::to_string(code);
    }
}

}  // namespace

bool LoadParameters(std::u16string_view xml, PduParameters& params)
{
    std::string text = Utf16ToUtf8(xml);
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size()))
        return false;
    Visit(doc, params);
    return true;
}

PduDevice::~PduDevice() { link_.ClosePort(); }

HRESULT PduDevice::InterfaceSupportsErrorInfo(REFIID riid) { return riid == IID_IPDU ? S_OK : S_FALSE; }

HRESULT PduDevice::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_PDU;
    return S_OK;
}

HRESULT PduDevice::Load(BSTR xml)
{
    if (!LoadParameters(xml ? std::u16string_view(xml, SysStringLen(xml)) : u"", params_))
        return E_FAIL;
    return OnParamsLoaded();
}

HRESULT PduDevice::OnParamsLoaded()
{
    link_.SetDumpPath(Utf16ToAnsi(params_.DumpFile.view()));
    settings_.Pin = Utf16ToAnsi(params_.Pin.view());
    settings_.SMSCentral = Utf16ToAnsi(params_.SMSCentral.view());
    settings_.CNMI = Utf16ToAnsi(params_.CNMI.view());
    settings_.NoSMSC = params_.NoSMSC;
    settings_.FullAlphabet = params_.FullAlphabet != 0;
    settings_.MaxParts = std::clamp<unsigned>(params_.MaxParts, 1, 255);
    bool complete = params_.Port > 0 && !params_.CommConfig.IsEmpty() && !params_.SMSCentral.IsEmpty();
    return complete ? S_OK : E_FAIL;
}

HRESULT PduDevice::Open(BSTR name)
{
    if (modem_.Opened())
        return S_OK;
    settings_.Name = name && SysStringLen(name) ? Utf16ToUtf8(std::u16string_view(name, SysStringLen(name)))
                                                : "COM" + std::to_string(params_.Port);
    if (!link_.OpenPort(params_.Port)) {
        DWORD code = GetLastError();
        std::string port = "COM" + std::to_string(params_.Port) + ":";
        std::string text = "Failed open COM port " + port + " (" + SerialDevicePath(port) + "): " + PortFailure(code);
        return ReportError(kSource, Utf8ToUtf16(text).c_str());
    }
    if (!link_.Configure(params_.CommConfig.str())) {
        link_.ClosePort();
        return ReportError(kSource, u"Invalid CommConfig specified");
    }
    if (!link_.SetTimeouts()) {
        link_.ClosePort();
        return ReportError(kSource, u"Internal Error: Cannot set commtimeouts");
    }
    HRESULT hr = ModemStartup(modem_).Run();
    if (FAILED(hr))
        link_.ClosePort();  // the error information stays set for the caller
    return hr;
}

HRESULT PduDevice::Run(IVelmo_Q* queue) { return ModemSession(modem_).Run(queue); }

HRESULT PduDevice::GetModemState(LONG* signal, LONG* registration, BSTR* operatorName)
{
    if (!signal || !registration || !operatorName)
        return E_POINTER;
    ModemState state = modem_.State();
    *signal = state.signal;
    *registration = state.registration;
    *operatorName = state.operatorName.empty() ? nullptr : Bstr(AnsiToUtf16(state.operatorName)).Detach();
    return S_OK;
}

HRESULT PduDevice::Close()
{
    link_.ClosePort();
    modem_.SetOpened(false);
    return S_OK;
}

}  // namespace velmo::cellgate
