#include "devices/cellgate/PduDevice.h"

#include "devices/cellgate/ModemSession.h"
#include "devices/cellgate/ModemStartup.h"

#include "platform/ClassFactory.h"
#include "platform/EventLog.h"
#include "platform/Serial.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <filesystem>
#include <algorithm>

namespace velmo::cellgate {

namespace {

constexpr const char16_t* kSource = u"Cellgate.PDU.1";

// A sentence's first letter in upper case.
std::string Capitalised(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

// Why a port did not open, for the administrator who reads the event.
std::string PortFailure(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "there is no such device (error " + std::to_string(code) + ")";
    case ERROR_SHARING_VIOLATION: return "another program has it open (error 32)";
    case ERROR_ACCESS_DENIED: return "access denied: this user may not use it (the dialout group) (error 5)";
    default: return "error " + std::to_string(code);
    }
}

}  // namespace

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
    std::u16string_view text = xml ? std::u16string_view(xml, SysStringLen(xml)) : u"";
    ParameterFindings findings;
    if (!LoadParameters(text, params_, &findings)) {
        (void)ReportError(kSource, u"The device entry is not XML: no parameter can be read");
        return E_FAIL;
    }
    std::string entry = EntryName(text);
    CheckParameters(params_, entry, findings);
    for (const std::string& warning : findings.warnings)
        ReportEventText(u"velmosvc", EVENTLOG_WARNING_TYPE, "[" + entry + "] " + Capitalised(warning));
    HRESULT hr = OnParamsLoaded();
    if (!findings.problems.empty()) {
        std::string all;
        for (const std::string& problem : findings.problems)
            all += (all.empty() ? "" : "; ") + problem;
        (void)ReportError(kSource, Utf8ToUtf16(Capitalised(all)).c_str());
        return E_FAIL;
    }
    return hr;
}

HRESULT PduDevice::CheckParams(BSTR xml, BSTR* report)
{
    if (!report)
        return E_POINTER;
    *report = nullptr;
    std::u16string_view text = xml ? std::u16string_view(xml, SysStringLen(xml)) : u"";
    PduParameters params;
    ParameterFindings findings;
    if (!LoadParameters(text, params, &findings))
        findings.problems.push_back("the device entry is not XML: no parameter can be read");
    else
        CheckParameters(params, EntryName(text), findings);
    // Only the check looks at the machine: a modem may be plugged in after
    // the service starts, and the device waits for it.
    std::error_code unknown;
    std::string path = Utf16ToUtf8(params.PortPath.view());
    if (!path.empty() && !std::filesystem::exists(path, unknown))
        findings.warnings.push_back("the device entry " + EntryName(text) + " has Port " + path +
                                    ", and nothing is there now: the device waits until the modem is plugged in "
                                    "(velmo modems lists the lines that answer)");
    std::string lines;
    for (const std::string& p : findings.problems)
        lines += "problem: " + p + "\n";
    for (const std::string& w : findings.warnings)
        lines += "warning: " + w + "\n";
    if (!lines.empty())
        *report = Bstr(Utf8ToUtf16(lines)).Detach();
    return findings.problems.empty() ? S_OK : S_FALSE;
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
    settings_.StatusReport = params_.StatusReport != 0;
    settings_.Validity = ValidityOf(params_);
    bool complete = !PortName(params_).empty() && !params_.CommConfig.IsEmpty();
    return complete ? S_OK : E_FAIL;
}

HRESULT PduDevice::Open(BSTR name)
{
    if (modem_.Opened())
        return S_OK;
    std::string port = PortName(params_);
    settings_.Name = name && SysStringLen(name) ? Utf16ToUtf8(std::u16string_view(name, SysStringLen(name))) : port;
    settings_.Port = params_.PortPath.IsEmpty() ? port + " (" + SerialDevicePath(port) + ")" : port;
    if (!link_.Open(port)) {
        DWORD code = GetLastError();
        std::string text = (params_.PortPath.IsEmpty() ? "Failed open COM port " : "Failed open port ") +
                           settings_.Port + ": " + PortFailure(code);
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

HRESULT PduDevice::GetModemInfo(BSTR* info)
{
    if (!info)
        return E_POINTER;
    ModemState s = modem_.State();
    std::string lines;
    auto add = [&](const char* name, const std::string& value) {
        if (!value.empty())
            lines += std::string(name) + "=" + value + "\n";
    };
    add("manufacturer", s.manufacturer);
    add("model", s.model);
    add("revision", s.revision);
    add("imei", s.imei);
    add("imsi", s.imsi);
    add("smsc", s.serviceCentre);
    add("storages", s.storages);
    add("notification", s.notification);
    add("port", settings_.Port);
    *info = lines.empty() ? nullptr : Bstr(AnsiToUtf16(lines)).Detach();
    return S_OK;
}

HRESULT PduDevice::Close()
{
    link_.ClosePort();
    modem_.SetOpened(false);
    return S_OK;
}

}  // namespace velmo::cellgate
