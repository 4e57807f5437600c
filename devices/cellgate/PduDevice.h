// The GSM modem device: the class PDU of the Cellgate module.
//
// The service creates one object per device run, loads its parameters
// (param elements of the device's configuration entry, names in any case,
// later ones overriding earlier ones, values that do not convert ignored),
// opens it (serial link, then the modem's opening), runs it (the AT
// dialogue's loop) and closes it. While it runs, IVelmoDeviceState tells
// the modem's signal, registration and operator, and IVelmoDeviceInfo what
// the opening learned, from any thread; IVelmoDeviceCheck checks
// parameters without opening anything. Failures of Open and Run are error
// information with the source "Cellgate.PDU.1" and DISP_E_EXCEPTION; Load
// fails with E_FAIL for text that is not XML, or when no port or no line
// settings are given, with error information naming the entry and the
// parameter; what it only warns about goes to the event log.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/DeviceParameters.h"
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

class PduDevice final : public ComObject<ISupportErrorInfo, IPersistXMLParam, IVelmoDevice, IPDU, IVelmoDeviceState,
                                         IVelmoDeviceInfo, IVelmoDeviceCheck> {
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
    HRESULT GetModemInfo(BSTR* info) override;
    HRESULT CheckParams(BSTR xml, BSTR* report) override;

    const PduParameters& Parameters() const { return params_; }

private:
    PduParameters params_;
    AtSettings settings_;
    SerialPort link_;
    AtModem modem_{link_, settings_};
};

}  // namespace velmo::cellgate
