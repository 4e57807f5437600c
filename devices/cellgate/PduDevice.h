// The GSM modem device: the class PDU of the Cellgate module.
//
// The service creates one object per device run, loads its parameters
// (param elements of the device's configuration entry, names in any case,
// later ones overriding earlier ones, values that do not convert ignored),
// opens it (serial link, then the modem's initialisation), runs it (the AT
// dialogue's loop) and closes it. While it runs, IVelmoDeviceState tells
// the modem's signal, registration and operator, from any thread. Failures of Open and Run are error
// information with the source "Cellgate.PDU.1" and DISP_E_EXCEPTION; Load
// gives plain HRESULTs: E_FAIL for text that is not XML, or when Port is 0
// or CommConfig or SMSCentral is empty.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/SerialPort.h"
#include "interfaces/VelmoDevice.h"
#include "interfaces/VelmoDeviceState.h"
#include "platform/ClassFactory.h"
#include "platform/ErrorInfo.h"

#include <atomic>

inline constexpr CLSID CLSID_PDU = velmo::MakeGuid("{852F907B-3A8B-4CF5-B19D-8B813B2F7367}");
inline constexpr IID IID_IPDU = velmo::MakeGuid("{73BDE587-08C7-4EC3-AB8A-BFD4FE9465C0}");
inline constexpr CLSID CLSID_CBS = velmo::MakeGuid("{72E5B46F-E0C5-4457-AF2B-E8081480AD72}");
inline constexpr IID IID_ICBS = velmo::MakeGuid("{BA558D99-2E51-40F4-8597-71B24BCC3094}");
inline constexpr GUID LIBID_CellgateLib = velmo::MakeGuid("{9C70CEB0-A9ED-4B97-AD20-EEE3310986AC}");

struct IPDU : IUnknown {
protected:
    ~IPDU() = default;
};
VELMO_INTERFACE_ID(IPDU, IID_IPDU);

namespace velmo::cellgate {

// The device's parameters as Load leaves them.
struct PduParameters {
    std::uint16_t Port = 0;
    Bstr CommConfig;
    Bstr Pin;  // none: no PIN is ever sent
    Bstr SMSCentral;
    std::uint16_t NoSMSC = 0;
    Bstr DumpFile;
    Bstr CNMI{u"1,2"};
    std::uint16_t FullAlphabet = 0;
    std::uint16_t MaxParts = 1;
};

// Applies the param elements of a configuration entry; false when the text
// is not XML.
bool LoadParameters(std::u16string_view xml, PduParameters& params);

class PduDevice final : public ComObject<ISupportErrorInfo, IPersistXMLParam, IVelmoDevice, IPDU, IVelmoDeviceState> {
public:
    ~PduDevice();

    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Load(BSTR xml) override;
    HRESULT Reserved(void*) override { return E_NOTIMPL; }
    virtual HRESULT OnParamsLoaded();

    HRESULT Open(BSTR name) override;
    HRESULT Close() override;
    HRESULT Run(IVelmo_Q* queue) override;

    HRESULT GetModemState(LONG* signal, LONG* registration, BSTR* operatorName) override;

    const PduParameters& Parameters() const { return params_; }

private:
    PduParameters params_;
    AtSettings settings_;
    SerialPort link_;
    AtModem modem_{link_, settings_};
};

}  // namespace velmo::cellgate
